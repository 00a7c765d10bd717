#include "app/window/worker_relay.h"

#include <utility>

#include <QMetaObject>
#include <QThread>

namespace app {

struct WorkerRelay::PendingCall {
    enum class State { kPosted, kRunning, kDone, kDropped };
    State state = State::kPosted;
};

WorkerRelay::WorkerRelay(std::function<void(std::vector<Row>)> showRows,
                         std::function<void(int)> showProgress)
    : showRows_(std::move(showRows)), showProgress_(std::move(showProgress)) {
    batchTimer_.setSingleShot(true);
    connect(&batchTimer_, &QTimer::timeout, this, &WorkerRelay::TakeQueued);
    connect(
        this, &WorkerRelay::Queued, this,
        [this] {
            if (!batchTimer_.isActive()) {
                batchTimer_.start(kBatchWait);
            }
        },
        Qt::QueuedConnection);
    connect(this, &WorkerRelay::Wanted, this, &WorkerRelay::TakeQueued, Qt::QueuedConnection);
}

WorkerRelay::~WorkerRelay() {
    Close();
}

bool WorkerRelay::OnWindowThread() const {
    return QThread::currentThread() == thread();
}

bool WorkerRelay::Call(const Work& work, const std::function<void()>& f) {
    if (OnWindowThread()) {
        f();
        return true;
    }
    if (Abandoned(work)) {
        return false;
    }
    auto call = std::make_shared<PendingCall>();
    std::unique_lock lock(mutex_);
    if (closed_) {
        return false;
    }
    // What was queued before the call is taken in before the call is carried out.
    Want();
    // The posted call refers to f, which lives only while this worker waits: it runs f only
    // in the state Posted, and the worker leaves only once the call has left that state.
    QMetaObject::invokeMethod(
        this, [this, call, work, &f] { Carry(*call, work, f); }, Qt::QueuedConnection);
    using State = PendingCall::State;
    callEnded_.wait(lock, [&] {
        return call->state == State::kDone || call->state == State::kDropped ||
               (closed_ && call->state == State::kPosted);
    });
    if (call->state == State::kPosted) {
        call->state = State::kDropped;
    }
    return call->state == State::kDone;
}

void WorkerRelay::Carry(PendingCall& call, const Work& work, const std::function<void()>& f) {
    using State = PendingCall::State;
    {
        std::lock_guard lock(mutex_);
        if (call.state != State::kPosted) {
            return;
        }
        call.state = Abandoned(work) ? State::kDropped : State::kRunning;
        if (call.state == State::kDropped) {
            callEnded_.notify_all();
            return;
        }
    }
    // The worker waits until the call is done, also when f leaves by an exception.
    struct Finish {
        WorkerRelay& relay;
        PendingCall& call;
        ~Finish() {
            {
                std::lock_guard lock(relay.mutex_);
                call.state = State::kDone;
            }
            relay.callEnded_.notify_all();
        }
    } finish{*this, call};
    f();
}

template <class Now, class Add>
void WorkerRelay::Send(const Work& work, Now&& now, Add&& add) {
    if (OnWindowThread()) {
        TakeQueued();
        now();
        return;
    }
    if (Abandoned(work)) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    if (NothingQueued()) {
        emit Queued(QPrivateSignal());
    }
    add();
}

void WorkerRelay::AppendRow(const Work& work, Row row) {
    Send(
        work,
        [&] {
            std::vector<Row> rows;
            rows.push_back(std::move(row));
            showRows_(std::move(rows));
        },
        [&] {
            if (queued_.empty() || queued_.back().work != work || queued_.back().posted) {
                queued_.push_back({work, {}, {}});
                queued_.back().rows.reserve(kBatchRows);
            }
            queued_.back().rows.push_back(std::move(row));
            CountQueued();
        });
}

void WorkerRelay::Post(const Work& work, std::function<void()> f) {
    Send(
        work, [&] { f(); },
        [&] {
            queued_.push_back({work, {}, std::move(f)});
            CountQueued();
        });
}

void WorkerRelay::CountQueued() {
    if (++queuedRows_ >= kBatchRows) {
        Want();
    }
}

void WorkerRelay::SetProgress(const Work& work, int position) {
    Send(
        work, [&] { showProgress_(position); },
        [&] {
            progress_ = Progress{work, position};
        });
}

void WorkerRelay::Want() {
    if (!NothingQueued() && !wanted_) {
        wanted_ = true;
        emit Wanted(QPrivateSignal());
    }
}

void WorkerRelay::TakeQueued() {
    batchTimer_.stop();
    std::vector<Batch> batches;
    std::optional<Progress> progress;
    {
        std::lock_guard lock(mutex_);
        batches.swap(queued_);
        queuedRows_ = 0;
        progress.swap(progress_);
        wanted_ = false;
    }
    for (Batch& batch : batches) {
        if (Abandoned(batch.work)) {
            continue;
        }
        if (batch.posted) {
            batch.posted();
        } else {
            showRows_(std::move(batch.rows));
        }
    }
    if (progress && !Abandoned(progress->work)) {
        showProgress_(progress->position);
    }
}

void WorkerRelay::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queued_.clear();
        queuedRows_ = 0;
        progress_.reset();
    }
    callEnded_.notify_all();
    batchTimer_.stop();
}

}  // namespace app
