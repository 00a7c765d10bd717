// How the controller's workers reach the window's thread.
//
// A call is posted to the window's thread and its worker waits until it has been carried out
// there. Rows for the item list, posted calls (such as adding a folder to the tree) and
// progress positions are not waited for: the worker queues them and goes on, and the window's
// thread takes what is queued in one go (the rows and posted calls in their order, of the
// progress positions the last): once kBatchRows rows and posted calls are queued, once the
// first thing queued has waited kBatchWait, and before any call the worker makes after them.
// So the window takes in everything a worker sends in the order it was sent, only progress
// positions that were overtaken by later ones are never shown.
//
// Calls, rows and positions belong to a piece of work, told by the controller's work token.
// What the window's thread comes to after its work was abandoned is dropped there, and what a
// worker sends once its work has been abandoned is dropped at once, without the window's thread.
// Once the relay is closed everything is dropped at once and a worker still waiting for its call
// is let go: from then on no worker needs the window's thread, which may then wait for the
// workers to end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QTimer>

#include "store/work_token.h"

namespace app {

class WorkerRelay final : public QObject {
    Q_OBJECT

  public:
    using Work = std::shared_ptr<const store::WorkToken>;
    using Row = std::vector<std::u16string>;

    static constexpr std::size_t kBatchRows = 256;
    static constexpr std::chrono::milliseconds kBatchWait{50};

    // Create on the window's thread. showRows adds rows at the end of the list and
    // showProgress sets the progress bar; both are called on the window's thread.
    WorkerRelay(std::function<void(std::vector<Row>)> showRows,
                std::function<void(int)> showProgress);
    ~WorkerRelay() override;
    WorkerRelay(const WorkerRelay&) = delete;
    WorkerRelay& operator=(const WorkerRelay&) = delete;

    // Runs f on the window's thread: at once on that thread, otherwise posted there while the
    // caller waits. False when f was dropped (from another thread only): its work had been
    // abandoned or the relay closed before the window's thread came to it.
    bool Call(const Work& work, const std::function<void()>& f);
    // Queues a row of the work for the list, or a progress position. On the window's thread
    // the row or position is shown at once, after what was queued before it.
    void AppendRow(const Work& work, Row row);
    void SetProgress(const Work& work, int position);
    // Queues f to run on the window's thread, in its order with the rows; like a row, it is
    // not waited for and is dropped with its work. On the window's thread it runs at once.
    void Post(const Work& work, std::function<void()> f);

    // Window's thread: drops what is queued and everything sent from now on, and lets go of a
    // worker that waits for its call.
    void Close();

  signals:
    // The first thing since the last take was queued: the window's thread starts the timer.
    void Queued(QPrivateSignal);
    // A batch of rows is full, or a call follows what was queued: the window's thread takes
    // the queue in now.
    void Wanted(QPrivateSignal);

  private:
    struct Batch {
        Work work;
        std::vector<Row> rows;
        std::function<void()> posted;  // instead of rows
    };
    struct Progress {
        Work work;
        int position = 0;
    };
    struct PendingCall;

    static bool Abandoned(const Work& work) { return work && work->cancelled(); }
    bool OnWindowThread() const;
    bool NothingQueued() const { return queuedRows_ == 0 && !progress_; }
    // On the window's thread: takes in what is queued, then does now(). Elsewhere, unless the
    // work was abandoned or the relay closed: add() queues, with mutex_ held.
    template <class Now, class Add>
    void Send(const Work& work, Now&& now, Add&& add);
    // With mutex_ held: counts one more row or posted call, and has the queue taken in once
    // kBatchRows of them wait.
    void CountQueued();
    // With mutex_ held: asks the window's thread to take the queue in unless it was asked.
    void Want();
    // Window's thread: shows what is queued for work that was not abandoned.
    void TakeQueued();
    // Window's thread: carries out a posted call unless it was dropped.
    void Carry(PendingCall& call, const Work& work, const std::function<void()>& f);

    std::function<void(std::vector<Row>)> showRows_;
    std::function<void(int)> showProgress_;
    QTimer batchTimer_;

    std::mutex mutex_;
    std::condition_variable callEnded_;
    bool closed_ = false;
    std::vector<Batch> queued_;
    std::size_t queuedRows_ = 0;  // rows and posted calls
    std::optional<Progress> progress_;
    bool wanted_ = false;
};

}  // namespace app
