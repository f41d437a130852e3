#include "window/Form1.h"

#include "base/Messages.h"
#include "base/Shell.h"
#include "base/Statements.h"

#include <algorithm>

const QString Form1::StartCaption = QStringLiteral("Start Finding Links Within URL");
const QString Form1::StopCaption = QStringLiteral("Stop");
const QString Form1::LongTitle = QStringLiteral("Orvelle Software");
const QString Form1::ApplicationIconName = QStringLiteral("orvelle");

Form1::Form1(Shell& shell, QObject* parent)
    : QObject(parent), m_shell(shell), m_pushButton7Caption(StartCaption) {}

Form1::~Form1() = default;

void Form1::setCaption(const QString& caption) {
    if (m_caption == caption)
        return;
    m_caption = caption;
    emit captionChanged();
}

void Form1::setPushButton7Caption(const QString& caption) {
    if (m_pushButton7Caption == caption)
        return;
    m_pushButton7Caption = caption;
    emit pushButton7CaptionChanged();
}

void Form1::setMousePointer(int pointer) {
    if (m_mousePointer == pointer)
        return;
    m_mousePointer = pointer;
    emit mousePointerChanged();
}

void Form1::setIcon(const QString& icon) {
    if (m_icon == icon)
        return;
    m_icon = icon;
    emit iconChanged();
}

void Form1::setOption1(bool selected) {
    if (m_option1 == selected)
        return;
    m_option1 = selected;
    emit optionsChanged();
}

void Form1::setOption2(bool selected) {
    setOption1(!selected);
}

void Form1::setCheck2(int value) {
    if (m_check2 == value)
        return;
    m_check2 = value;
    emit optionsChanged();
}

void Form1::setCheck3(int value) {
    if (m_check3 == value)
        return;
    m_check3 = value;
    emit optionsChanged();
}

void Form1::setCheck4(int value) {
    if (m_check4 == value)
        return;
    m_check4 = value;
    emit optionsChanged();
}

void Form1::setDepth1(int value) {
    value = std::clamp(value, 0, MaxDepth1);
    if (m_depth1 == value)
        return;
    m_depth1 = value;
    emit optionsChanged();
}

void Form1::ApplyRunOptions(CrawlScope& scope) const {
    if (m_check3 == 1 && scope.hosts == CrawlScope::Hosts::Any)
        scope.hosts = CrawlScope::Hosts::SameSite;
    // The listed pages too: a person who asks for robots.txt means every page.
    if (m_check4 == 1)
        scope.robots = true;
    if (m_depth1 >= 1)
        scope.maxDepth = scope.maxDepth < 0 ? m_depth1 : std::min(scope.maxDepth, m_depth1);
}

bool Form1::RunFlag() const {
    return m_pushButton7Caption == StopCaption;
}

void Form1::PushButton9_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton9_Click"));
    // No busy test: results can be cleared during a run.
    s.run(100, [&] {
        ListView2.Clear();
        clearRunStatus();
    });
}

void Form1::PushButton11_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton11_Click"));
    s.run(100, [&] {
        if (IsBusy())
            return;
        ListView1.Clear();
        clearRunStatus();
    });
}

void Form1::clearRunStatus() {
    // The totals of the last run go with the lists they spoke of; a run in
    // progress keeps counting.
    if (!m_tally.running())
        m_tally.clear();
}

void Form1::removeSelected(ListView& list, int keyCode) {
    // Shift, Ctrl and Alt are not looked at: Shift+Delete removes too.
    if (keyCode != DeleteKey || IsBusy() || list.Count() == 0 || list.SelectedIndex() == 0)
        return;
    list.Remove(list.SelectedIndex());
}

void Form1::ListView1_KeyDown(int keyCode, int /*shift*/) {
    IgnoringFailures("ListView1_KeyDown", [&] { removeSelected(ListView1, keyCode); });
}

void Form1::ListView2_KeyDown(int keyCode, int /*shift*/) {
    IgnoringFailures("ListView2_KeyDown", [&] { removeSelected(ListView2, keyCode); });
}

void Form1::ListView1_DblClick() {
    IgnoringFailures("ListView1_DblClick", [&] { removeSelected(ListView1, DeleteKey); });
}

void Form1::ListView2_DblClick() {
    IgnoringFailures("ListView2_DblClick", [&] { removeSelected(ListView2, DeleteKey); });
}

void Form1::MouseMove(Control control) {
    IgnoringFailures("MouseMove", [&] {
        switch (control) {
        case Control::Option1:
        case Control::Option2:
        case Control::Check2:
        case Control::Check3:
        case Control::Check4:
        case Control::Depth1:
            return;
        case Control::PushButton7:
            // The start button shows the hand even during a run, so that it can be
            // pressed to stop.
            setMousePointer(PointerCustom);
            return;
        case Control::Form:
        case Control::ListView1:
        case Control::ListView2:
        case Control::Frame1:
            if (!IsBusy())
                setMousePointer(PointerDefault);
            return;
        default:
            if (!IsBusy())
                setMousePointer(PointerCustom);
            return;
        }
    });
}
