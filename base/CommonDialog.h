#pragma once

#include <QString>

class Shell;

// The open/save dialog the commands drive: they set its properties, show it, and
// read FileName back (empty when the person cancelled).
class CommonDialog {
public:
    QString FileName;
    long Flags = 0;
    QString DialogTitle;
    // VB-style filter: "Text Files (*.txt)|*.txt|All Files (*.*)|*.*"
    QString Filter;

    void ShowOpen(Shell& shell);
    void ShowSave(Shell& shell);

    // The filter as (description, pattern) pairs, in order.
    QList<QPair<QString, QString>> FilterPairs() const;
};
