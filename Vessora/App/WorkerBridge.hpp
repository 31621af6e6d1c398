// The one road from the main thread to blocking work: run() hands a job to a
// thread pool and brings its value, or the text of whatever it threw, back to
// the main thread with a queued call. No exception crosses a thread: a
// std::exception becomes its what(), anything else "An unknown error
// occurred.". The answer is delivered only while the receiver still lives,
// so a closed sheet never gets a late result.
//
// Jobs capture plain values and their own copy of the engine's shared_ptr,
// never a model, draft or widget: only the callbacks, which run on the main
// thread, may touch those. The pool has at least four threads, so a long
// start or install never starves the status poll or the package query.
//
// Destruction waits for every job; posted answers that were not delivered
// by then are dropped.
#pragma once

#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace vessora {

class WorkerBridge : public QObject {
    Q_OBJECT

public:
    static constexpr int minimumThreads = 4;

    explicit WorkerBridge(QObject* parent = nullptr);
    ~WorkerBridge() override;

    // Call on the main thread. `onValue` gets the job's value (nothing for a
    // job without one), `onError` the text of what it threw; both run on the
    // main thread, and only while `receiver` exists.
    template <typename Job, typename OnValue, typename OnError>
    void run(QObject* receiver, Job job, OnValue onValue, OnError onError);

    // Blocks until every started job has ended.
    void waitForDone();
    int maxThreadCount() const;

    // The text shown for a caught exception.
    static std::string errorText(const std::exception_ptr& error);

private:
    void deliver(std::function<void()> answer);

    QThreadPool pool_;
};

template <typename Job, typename OnValue, typename OnError>
void WorkerBridge::run(QObject* receiver, Job job, OnValue onValue, OnError onError) {
    using Value = std::invoke_result_t<Job&>;
    QPointer<QObject> guard(receiver);
    pool_.start([this, guard = std::move(guard), job = std::move(job), onValue = std::move(onValue),
                 onError = std::move(onError)]() mutable {
        std::function<void()> answer;
        try {
            if constexpr (std::is_void_v<Value>) {
                job();
                answer = [guard = std::move(guard), onValue = std::move(onValue)]() mutable {
                    if (guard)
                        onValue();
                };
            } else {
                // The value first: if the job throws, guard and onError
                // must still be there for the answer below.
                Value value = job();
                answer = [guard = std::move(guard), onValue = std::move(onValue),
                          value = std::move(value)]() mutable {
                    if (guard)
                        onValue(std::move(value));
                };
            }
        } catch (...) {
            answer = [guard = std::move(guard), onError = std::move(onError),
                      text = errorText(std::current_exception())]() mutable {
                if (guard)
                    onError(text);
            };
        }
        deliver(std::move(answer));
    });
}

} // namespace vessora
