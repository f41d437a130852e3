#include "base/Failure.h"
#include "cli/Harvest.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvelle-harvest"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVELLE_VERSION));
    try {
        return RunHarvest(QCoreApplication::arguments());
    } catch (...) {
        std::fprintf(stderr, "orvelle-harvest: %s\n",
                     DescribeCurrentException().toLocal8Bit().constData());
        return ExitStatus::OutputFailed;
    }
}
