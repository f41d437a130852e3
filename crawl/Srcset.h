#pragma once

#include <QStringList>
#include <QStringView>

// The URLs of the image candidates of a srcset (or imagesrcset) value, in order,
// by the HTML Standard's "parse a srcset attribute": candidates are split at
// blanks and commas, a URL may itself hold commas (data: URLs do), and a
// candidate whose descriptors are not valid ("2x 100w", "-1x", "0w") is dropped.
// The value is the attribute's text with character references decoded.
QStringList SrcsetUrls(QStringView value);
