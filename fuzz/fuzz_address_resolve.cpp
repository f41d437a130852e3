// Address set-up, value clean-up and resolution: an address and a link value of
// any bytes.
//
// Input: the address up to the first line feed, then the value's bytes.
//
// Checks, besides the sanitizers: the set-up address is the base address and is
// empty only for a blank address; a cleaned value has no tab or line break and no
// whitespace at either end; the fast resolver gives exactly what QUrl gives,
// against the set-up address and against the raw text as a base; only http and
// https addresses are visitable.
#include "crawl/HarvestRun.h"
#include "crawl/LinkResolver.h"
#include "crawl/LinkValue.h"
#include "fuzz/support/FuzzSupport.h"
#include "window/Form1.h"

namespace {

bool IsAsciiWhitespace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
}

void CheckResolution(const QString& base, const QString& value) {
    LinkResolver resolver;
    resolver.setBase(base);
    for (bool withFragment : {false, true}) {
        const LinkResolver::Result fast = resolver.resolve(value, withFragment);
        const LinkResolver::Result slow = resolver.resolveWithQUrl(value, withFragment);
        FuzzCheck(fast.link == slow.link && fast.visitable == slow.visitable,
                  "the resolver differs from QUrl",
                  QStringLiteral("base %1\nvalue %2\nfast %3 %4\nqurl %5 %6")
                      .arg(base, value, fast.link, QString::number(fast.visitable), slow.link,
                           QString::number(slow.visitable)));
        if (fast.visitable)
            FuzzCheck(fast.link.startsWith(QLatin1String("http://")) ||
                          fast.link.startsWith(QLatin1String("https://")),
                      "a visitable link that is not http or https", fast.link);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype lf = input.indexOf('\n');
    const QByteArray addressBytes = lf < 0 ? input : input.left(lf);
    const QByteArray valueBytes = lf < 0 ? QByteArray() : input.mid(lf + 1);
    const QString address = QString::fromUtf8(addressBytes);

    NullShell shell;
    Form1 form(shell);
    HarvestRun& links = form.harvestRun();
    links.SetPageAddress(address);
    FuzzCheck(links.page.address == links.page.base, "page and base address differ");
    // Blank: nothing but whitespace and byte-order marks at its start.
    QString rest = address.trimmed();
    while (rest.startsWith(QChar(0xFEFF)))
        rest = rest.mid(1).trimmed();
    FuzzCheck(links.page.address.isEmpty() == rest.isEmpty(),
              "an address was set up as blank, or a blank one as an address", address);

    const QString value = CleanLinkValue(valueBytes.constData(), valueBytes.size());
    FuzzCheck(!value.contains(u'\t') && !value.contains(u'\n') && !value.contains(u'\r'),
              "a cleaned value keeps a tab or a line break", value);
    FuzzCheck(value.isEmpty() ||
                  (!IsAsciiWhitespace(value.front()) && !IsAsciiWhitespace(value.back())),
              "a cleaned value keeps whitespace at an end", value);

    CheckResolution(links.page.base, value);
    CheckResolution(address, value);
    return 0;
}
