#include "base/Messages.h"
#include "base/Shell.h"
#include "base/Statements.h"
#include "window/Form1.h"

#include <QScopeGuard>
#include <QStringList>

namespace {

// Counts a run as in progress for as long as its handler runs.
class RunInProgress {
public:
    explicit RunInProgress(int& depth) : m_depth(depth) { ++m_depth; }
    ~RunInProgress() { --m_depth; }
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;

private:
    int& m_depth;
};

} // namespace

void Form1::PushButton7_Click() {
    Statements s(m_shell, HarvestRun::StatementsName());

    if (s.test(
            100, [&] { return RunFlag(); }, /*ifFailed=*/false)) {
        // Handled inside one of the run's yields: the run underneath sees the
        // caption change and winds down.
        s.run(150, [&] { m_shell.yield(YieldPlace::Run); });
        s.run(152, [&] { setPushButton7Caption(SavedStartCaption); });
        return;
    }
    // A stopped run still winding down shows the start caption already; a second
    // run must not start inside it.
    if (m_runsInProgress > 0)
        return;
    RunInProgress run(m_runsInProgress);

    s.run(102, [&] { SavedStartCaption = PushButton7Caption(); });
    s.run(104, [&] { setPushButton7Caption(StopCaption); });
    // A list that cannot be counted is run all the same.
    if (!s.test(
            106, [&] { return ListView1.Count() >= 1; }, /*ifFailed=*/true)) {
        // Nothing was run: the status line has nothing to say.
        m_tally.clear();
        s.run(148, [&] { MsgBox(m_shell, MessageId::NoUrlsAdded); });
        s.run(148, [&] { setPushButton7Caption(SavedStartCaption); });
        return;
    }
    // The run counts its own visits, results and failures from zero.
    m_tally.start();
    s.run(108, [&] { setMousePointer(PointerHourglass); });
    s.run(110, [&] { m_shell.yield(YieldPlace::Run); });

    // The run visits the list as it stands now: addresses added or removed during
    // the run change nothing in it.
    // "Stay on the same site", "Obey robots.txt" and the depth are read with it,
    // and narrow the crawl's scope for this run only.
    QStringList addresses;
    CrawlScope& scope = m_run.Settings.scope;
    const CrawlScope saved = scope;
    const auto restoreScope = qScopeGuard([&] { scope = saved; });
    s.run(112, [&] {
        addresses = ListView1.Texts();
        ApplyRunOptions(scope);
    });
    m_run.Run(s, addresses);

    // Nothing fetched ahead outlives the run, nor do its connections.
    m_run.End();
    // Stop puts the start caption back before the run winds down to here.
    m_tally.finish(!RunFlag());
    s.run(142, [&] { setPushButton7Caption(StartCaption); });
    s.run(144, [&] { MsgBox(m_shell, MessageId::Done); });
    s.run(146, [&] { setMousePointer(PointerDefault); });
}
