#include "console/ServiceTasks.h"

#include "corvanelib/service/CorvaneTasks.h"

namespace corvane::console {

namespace {

class CorvaneTasksForwarder final : public IServiceTasks {
public:
    DWORD CheckServiceStatus(SERVICE_STATUS& status) override {
        return corvanelib::CorvaneTasks::CheckServiceStatus(status);
    }
    DWORD TryRepairCorvaneMgr() override { return corvanelib::CorvaneTasks::TryRepairCorvaneMgr(); }
    DWORD StartCorvaneMgr(DWORD timeoutMs) override {
        return corvanelib::CorvaneTasks::StartCorvaneMgr(timeoutMs);
    }
};

} // namespace

IServiceTasks& CorvaneServiceTasks() {
    static CorvaneTasksForwarder tasks;
    return tasks;
}

} // namespace corvane::console
