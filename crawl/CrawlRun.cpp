#include "app/Form1.h"
#include "app/Messages.h"
#include "app/Shell.h"
#include "app/Statements.h"

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
    bool more = false;
    s.run(124, [&] {
        more = !crawl.LinkQueue.isEmpty() && form.RunFlag();
        // Every page this crawl reaches will be visited now: fetch them ahead.
        if (more)
            crawl.Ahead.followFrom(crawl.SeenLinks, crawl.LinkQueue);
    });
    while (more) {
        s.run(124, [&] { form.setMousePointer(Form1::PointerHourglass); });
        qsizetype visited = -1;
        s.run(126, [&] {
            visited = crawl.LinkQueue.size() - 1;
            // A copy: the visit appends to the queue.
            const QString address = crawl.LinkQueue.at(visited);
            crawl.CrawlPage(form.ListView2, address, 1);
        });
        // The links the visit appended stay behind the visited one: last in, first out.
        s.run(128, [&] {
            if (visited >= 0 && visited < crawl.LinkQueue.size())
                crawl.LinkQueue.removeAt(visited);
        });
        bool stopped = true;
        s.run(130, [&] { stopped = !form.RunFlag(); });
        if (stopped)
            return false;
        s.run(134, [&] { more = !crawl.LinkQueue.isEmpty(); });
    }
    return true;
}

} // namespace

void Form1::PushButton7_Click() {
    Statements s(m_shell, QualifiedName("Form1", "PushButton7_Click"));
    ExtractLinks& crawl = m_extractLinks;

    bool stopRequest = false;
    s.run(100, [&] { stopRequest = RunFlag(); });
    if (stopRequest) {
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
    bool anyAddress = true;
    s.run(106, [&] { anyAddress = ListView1.Count() >= 1; });
    if (!anyAddress) {
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

    // The run visits the list as it stands now: addresses added or removed during
    // the run change nothing in it.
    QStringList addresses;
    s.run(112, [&] {
        addresses = ListView1.Texts();
        crawl.Ahead.beginRun(addresses);
    });
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        // Stop ends the run here: no further listed address is visited.
        bool running = false;
        s.run(112, [&] {
            setMousePointer(PointerHourglass);
            running = RunFlag();
        });
        if (!running)
            break;
        QString address;
        s.run(114, [&] {
            address = addresses.at(i);
            crawl.Ahead.atListed(i);
        });
        s.run(116, [&] { crawl.SeenLinks = {}; });
        s.run(118, [&] { crawl.LinkQueue = {}; });
        s.run(120, [&] { crawl.CrawlPage(ListView2, address, 1); });
        bool extractForever = false;
        s.run(122, [&] { extractForever = Check2() == 1; });
        if (extractForever && !followQueuedLinks(*this, s))
            s.run(132, [&] { i = addresses.size(); });
        crawl.Ahead.endFollowing();
        s.run(136, [&] { crawl.SeenLinks = {}; });
        s.run(138, [&] { crawl.LinkQueue = {}; });
    } // 140

    // Nothing fetched ahead outlives the run, nor do its connections.
    crawl.Ahead.endRun();
    crawl.Transfers.release();
    // Stop puts the start caption back before the run winds down to here.
    crawl.Tally.finish(!RunFlag());
    s.run(142, [&] { setPushButton7Caption(StartCaption); });
    s.run(144, [&] { MsgBox(m_shell, MessageId::Done); });
    s.run(146, [&] { setMousePointer(PointerDefault); });
}
