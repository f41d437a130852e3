#include "base/CommonDialog.h"

#include "base/Shell.h"

#include <QList>
#include <QPair>

void CommonDialog::ShowOpen(Shell& shell) {
    shell.showOpen(*this);
}

void CommonDialog::ShowSave(Shell& shell) {
    shell.showSave(*this);
}

QList<QPair<QString, QString>> CommonDialog::FilterPairs() const {
    QList<QPair<QString, QString>> pairs;
    const QStringList parts = Filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        pairs.append({parts[i], parts[i + 1]});
    return pairs;
}
