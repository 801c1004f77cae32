// SPDX-License-Identifier: MIT
// Where an upgrade runs. The window's logic hands a procedure and the host it
// reports to (which lives on the view's thread) to a runner: the inline
// runner runs it there and then, the worker runner on a thread of its own,
// with every call on the host carried over to the view's thread in order.
// Calls that the procedure needs an answer to (the path, the selected entry,
// a message box) make the worker wait until the view's thread has run them.
#pragma once

#include <functional>
#include <thread>

#include "protocol/upgrade_host.h"
#include "protocol/upgrade_report.h"

namespace velmorin {

// How work reaches the view's thread; a toolkit implements Post with its own
// queued call (Qt's invokeMethod, a posted window message).
class ViewThread {
public:
    virtual ~ViewThread() = default;
    // Runs `work` on the view's thread after everything posted before it;
    // returns at once. Safe to call from any thread.
    virtual void Post(std::function<void()> work) = 0;
    // Runs `work` on the view's thread and waits until it has run.
    void Call(const std::function<void()>& work);
};

class UpgradeRunner {
public:
    using Procedure = std::function<UpgradeReport(UpgradeHost&)>;
    using Finished = std::function<void(const UpgradeReport&)>;

    virtual ~UpgradeRunner() = default;
    // Runs `procedure` with `host`; `finished` is called on the view's thread
    // with the report when it has ended.
    virtual void Start(Procedure procedure, UpgradeHost& host, Finished finished) = 0;
};

// Runs the procedure at once on the caller's thread.
class InlineUpgradeRunner : public UpgradeRunner {
public:
    void Start(Procedure procedure, UpgradeHost& host, Finished finished) override;
};

// Runs the procedure on a worker thread.
class WorkerUpgradeRunner : public UpgradeRunner {
public:
    explicit WorkerUpgradeRunner(ViewThread& view) : m_view(view) {}
    // Waits for a run that is still going: its owner keeps the view's thread
    // turning until `finished` has been called, so nothing waits on it here.
    ~WorkerUpgradeRunner() override;
    WorkerUpgradeRunner(const WorkerUpgradeRunner&) = delete;
    WorkerUpgradeRunner& operator=(const WorkerUpgradeRunner&) = delete;

    void Start(Procedure procedure, UpgradeHost& host, Finished finished) override;

private:
    ViewThread& m_view;
    std::thread m_worker;
};

}  // namespace velmorin
