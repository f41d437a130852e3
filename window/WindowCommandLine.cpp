#include "window/WindowCommandLine.h"

namespace {

// The arguments that Qt's application objects read (QGuiApplication, QApplication
// and the X11 platform), with one dash or two: those that take the next argument
// as their value, and those that stand alone. "-style=NAME", "-stylesheet=FILE"
// and "-qmljsdebugger=..." carry theirs.
const char* const QtWithValue[] = {
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "geometry",
    "qwindowtitle",
    "title",
    "qwindowicon",
    "icon",
    "session",
    "display",
    "name",
    "visual",
    "style",
    "stylesheet",
    "qmljsdebugger",
};
const char* const QtAlone[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
const char* const QtWithEquals[] = {"style=", "stylesheet=", "qmljsdebugger="};

const char* const Usage = "Usage: orvelle [OPTION...] [ADDRESS...]\n";

const char* const HelpText =
    "Opens the Orvelle window: list web addresses, press \"Start Finding Links Within\n"
    "URL\", and every link found on their pages is listed. Addresses given here are\n"
    "appended to the URL list, as \"Add One URL\" appends them.\n"
    "\n"
    "Options:\n"
    "  -h, --help       Show this help and exit.\n"
    "  -V, --version    Show the version and exit.\n"
    "  --               What follows is an address, even when it begins with '-'.\n"
    "\n"
    "Qt's own options are understood too, among them:\n"
    "  -platform NAME   The window system plugin (xcb, wayland, offscreen, ...).\n"
    "  -style NAME      The widget style (Fusion, Windows, ...).\n"
    "  -reverse         Lay the window out from right to left.\n"
    "\n"
    "To harvest from a script or a terminal, see orvelle-harvest --help.\n";

// The name of an option without its dashes ("-style", "--style" give "style").
QString nameOf(const QString& argument) {
    return argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
}

template <size_t N> bool isOneOf(const QString& name, const char* const (&names)[N]) {
    for (const char* candidate : names)
        if (name == QLatin1String(candidate))
            return true;
    return false;
}

template <size_t N> bool startsWithOneOf(const QString& name, const char* const (&prefixes)[N]) {
    for (const char* prefix : prefixes)
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

WindowCommandLine usageError(const QString& problem) {
    WindowCommandLine line;
    line.action = WindowCommandLine::Action::Error;
    line.text = QStringLiteral("orvelle: ") + problem +
                QStringLiteral("\nTry 'orvelle --help' for more information.\n");
    return line;
}

} // namespace

WindowCommandLine ReadWindowCommandLine(const QStringList& arguments) {
    WindowCommandLine line;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        // "-" alone is no option: it is listed like any other text.
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument.size() == 1) {
            line.addresses.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.action = WindowCommandLine::Action::Help;
            line.text = QLatin1String(Usage) + QLatin1String(HelpText);
            return line;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-V")) {
            line.action = WindowCommandLine::Action::Version;
            line.text = QStringLiteral("orvelle " ORVELLE_VERSION "\n");
            return line;
        }
        const QString name = nameOf(argument);
        if (isOneOf(name, QtAlone) || startsWithOneOf(name, QtWithEquals))
            continue;
        if (isOneOf(name, QtWithValue)) {
            // Qt leaves an option without its value alone; it would reach the
            // list as an address.
            if (i + 1 >= arguments.size())
                return usageError(QStringLiteral("option '") + argument +
                                  QStringLiteral("' needs a value"));
            ++i;
            continue;
        }
        return usageError(QStringLiteral("unknown option '") + argument + QLatin1Char('\''));
    }
    return line;
}
