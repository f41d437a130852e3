#pragma once

#include <QString>

// Turning the raw bytes of an attribute value into the text of a link.

// The bytes as text: UTF-8 where they are valid UTF-8, else Latin-1 (every byte
// one character), so that no value is lost to an encoding it was not written in.
QString DecodeValueBytes(const char* data, qsizetype size);

// The bytes as a browser reads a link from an attribute: decoded as above, the
// character references &amp; &lt; &gt; &quot; &apos; &#N; and &#xH; replaced by
// their characters, leading and trailing ASCII whitespace stripped, and tabs and
// line breaks inside removed.
QString CleanLinkValue(const char* data, qsizetype size);

// The bytes as text (as DecodeValueBytes) with the character references above
// replaced, and nothing else changed: the whitespace of a srcset list stays.
QString DecodeAttributeValue(const char* data, qsizetype size);
