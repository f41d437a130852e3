#include "crawl/Srcset.h"

#include <optional>

namespace {

bool IsSpace(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\f' || u == '\r';
}

bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// A valid non-negative integer: one or more ASCII digits.
std::optional<double> NonNegativeInteger(QStringView s) {
    if (s.isEmpty())
        return std::nullopt;
    for (QChar c : s) {
        if (!IsDigit(c))
            return std::nullopt;
    }
    return s.toDouble();
}

// A valid floating-point number: [-] (digits [. digits] | . digits) [(e|E) [+|-] digits].
std::optional<double> FloatingPointNumber(QStringView s) {
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype from = i;
        while (i < s.size() && IsDigit(s[i]))
            ++i;
        return i > from;
    };
    if (i < s.size() && s[i] == u'-')
        ++i;
    const bool whole = digits();
    bool fraction = false;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        fraction = digits();
        if (!fraction)
            return std::nullopt;
    }
    if (!whole && !fraction)
        return std::nullopt;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
            ++i;
        if (!digits())
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    return s.toDouble();
}

// The descriptors after a candidate's URL, up to the comma that ends the
// candidate (not one inside parentheses); position moves past that comma.
QList<QStringView> ReadDescriptors(QStringView input, qsizetype& position) {
    enum class State { InDescriptor, InParens, AfterDescriptor };
    QList<QStringView> descriptors;
    while (position < input.size() && IsSpace(input[position]))
        ++position;
    qsizetype start = position;
    State state = State::InDescriptor;
    const auto take = [&](qsizetype end) {
        if (end > start)
            descriptors.append(input.mid(start, end - start));
    };
    for (; position < input.size(); ++position) {
        const QChar c = input[position];
        switch (state) {
        case State::InDescriptor:
            if (IsSpace(c)) {
                take(position);
                state = State::AfterDescriptor;
            } else if (c == u',') {
                take(position);
                ++position;
                return descriptors;
            } else if (c == u'(') {
                state = State::InParens;
            }
            break;
        case State::InParens:
            if (c == u')')
                state = State::InDescriptor;
            break;
        case State::AfterDescriptor:
            if (!IsSpace(c)) {
                start = position;
                state = State::InDescriptor;
                --position; // read it again, in a descriptor
            }
            break;
        }
    }
    if (state != State::AfterDescriptor)
        take(position);
    return descriptors;
}

// The descriptor parser: at most one of a width and a density, an optional
// height only with a width, every number valid and in range.
bool DescriptorsAreValid(const QList<QStringView>& descriptors) {
    bool width = false, density = false, height = false;
    for (QStringView d : descriptors) {
        const QChar last = d.back();
        const QStringView number = d.chopped(1);
        if (last == u'w') {
            const auto value = NonNegativeInteger(number);
            if (width || density || !value || *value == 0)
                return false;
            width = true;
        } else if (last == u'x') {
            const auto value = FloatingPointNumber(number);
            if (width || density || height || !value || *value < 0)
                return false;
            density = true;
        } else if (last == u'h') {
            const auto value = NonNegativeInteger(number);
            if (height || density || !value || *value == 0)
                return false;
            height = true;
        } else {
            return false;
        }
    }
    return !height || width;
}

} // namespace

QStringList SrcsetUrls(QStringView input) {
    QStringList urls;
    qsizetype position = 0;
    while (true) {
        while (position < input.size() && (IsSpace(input[position]) || input[position] == u','))
            ++position;
        if (position >= input.size())
            return urls;
        const qsizetype urlStart = position;
        while (position < input.size() && !IsSpace(input[position]))
            ++position;
        QStringView url = input.mid(urlStart, position - urlStart);
        if (url.endsWith(u',')) {
            while (url.endsWith(u','))
                url.chop(1);
            urls.append(url.toString());
            continue;
        }
        if (DescriptorsAreValid(ReadDescriptors(input, position)))
            urls.append(url.toString());
    }
}
