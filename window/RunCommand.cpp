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

// "Extract forever" for one listed address: visits the newest queued link until the
// queue is empty. False when the run flag dropped, and the run is to end.
bool followQueuedLinks(Form1& form, Statements& s) {
    ExtractLinks& crawl = form.extractLinks();
    bool more = s.test(
        124,
        [&] {
            const bool follow = !crawl.LinkQueue.isEmpty() && form.RunFlag();
            // Every page this crawl reaches will be visited now: fetch them ahead.
            if (follow)
                crawl.Ahead.followFrom(crawl.SeenLinks, crawl.LinkQueue, crawl.LinkQueueDepths);
            return follow;
        },
        /*ifFailed=*/false);
    while (more) {
        s.run(124, [&] { form.setMousePointer(Form1::PointerHourglass); });
        qsizetype visited = -1;
        s.run(126, [&] {
            visited = crawl.LinkQueue.size() - 1;
            // A copy: the visit appends to the queue.
            const QString address = crawl.LinkQueue.at(visited);
            crawl.PageDepth = crawl.LinkQueueDepths.value(visited, crawl.PageDepth + 1);
            crawl.CrawlPage(form.ListView2, address, 1);
        });
        // The links the visit appended stay behind the visited one: last in, first out.
        s.run(128, [&] {
            if (visited >= 0 && visited < crawl.LinkQueue.size())
                crawl.LinkQueue.removeAt(visited);
            if (visited >= 0 && visited < crawl.LinkQueueDepths.size())
                crawl.LinkQueueDepths.removeAt(visited);
        });
        // A run flag that cannot be read ends the run; a queue that cannot be
        // read is followed on.
        if (s.test(
                130, [&] { return !form.RunFlag(); }, /*ifFailed=*/true))
            return false;
        more = s.test(
            134, [&] { return !crawl.LinkQueue.isEmpty(); }, /*ifFailed=*/true);
    }
    return true;
}

// Statements 112 to 140: every listed address, and with "Extract forever" every
// page it leads to, until the list ends or the run flag drops.
void visitListedAddresses(Form1& form, Statements& s) {
    ExtractLinks& crawl = form.extractLinks();
    // The run visits the list as it stands now: addresses added or removed during
    // the run change nothing in it.
    QStringList addresses;
    // So are the frame's choices of site, robots.txt and depth: they narrow the
    // crawl's scope for this run only.
    const CrawlScope scope = crawl.Scope;
    const auto restoreScope = qScopeGuard([&] { crawl.Scope = scope; });
    s.run(112, [&] {
        addresses = form.ListView1.Texts();
        form.ApplyRunOptions(crawl.Scope);
        crawl.Ahead.beginRun(addresses);
    });
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        // Stop ends the run here: no further listed address is visited.
        const bool running = s.test(
            112,
            [&] {
                form.setMousePointer(Form1::PointerHourglass);
                return form.RunFlag();
            },
            /*ifFailed=*/false);
        if (!running)
            break;
        QString address;
        s.run(114, [&] {
            address = addresses.at(i);
            crawl.ListedAddress = address;
            crawl.PageDepth = 0;
            crawl.Ahead.atListed(i);
        });
        s.run(116, [&] { crawl.SeenLinks = {}; });
        s.run(118, [&] {
            crawl.LinkQueue = {};
            crawl.LinkQueueDepths = {};
        });
        s.run(120, [&] { crawl.CrawlPage(form.ListView2, address, 1); });
        const bool extractForever = s.test(
            122, [&] { return form.Check2() == 1; }, /*ifFailed=*/false);
        if (extractForever && !followQueuedLinks(form, s))
            s.run(132, [&] { i = addresses.size(); });
        crawl.Ahead.endFollowing();
        s.run(136, [&] { crawl.SeenLinks = {}; });
        s.run(138, [&] {
            crawl.LinkQueue = {};
            crawl.LinkQueueDepths = {};
        });
    } // 140
}

} // namespace

void Form1::PushButton7_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton7_Click"));
    ExtractLinks& crawl = m_extractLinks;

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
    if (crawl.RunDepth > 0)
        return;
    RunInProgress run(crawl.RunDepth);

    s.run(102, [&] { SavedStartCaption = PushButton7Caption(); });
    s.run(104, [&] { setPushButton7Caption(StopCaption); });
    // A list that cannot be counted is run all the same.
    if (!s.test(
            106, [&] { return ListView1.Count() >= 1; }, /*ifFailed=*/true)) {
        // Nothing was run: the status line has nothing to say.
        crawl.Tally.clear();
        s.run(148, [&] { MsgBox(m_shell, MessageId::NoUrlsAdded); });
        s.run(148, [&] { setPushButton7Caption(SavedStartCaption); });
        return;
    }
    // The run counts its own visits, results and failures from zero.
    crawl.Tally.start();
    s.run(108, [&] { setMousePointer(PointerHourglass); });
    s.run(110, [&] { m_shell.yield(YieldPlace::Run); });

    visitListedAddresses(*this, s);

    // Nothing fetched ahead outlives the run, nor do its connections.
    crawl.Ahead.endRun();
    crawl.Transfers.release();
    // Stop puts the start caption back before the run winds down to here.
    crawl.Tally.finish(!RunFlag());
    s.run(142, [&] { setPushButton7Caption(StartCaption); });
    s.run(144, [&] { MsgBox(m_shell, MessageId::Done); });
    s.run(146, [&] { setMousePointer(PointerDefault); });
}
