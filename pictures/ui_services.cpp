#include "ui_services.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace sigillon {
namespace {

class StderrServices final : public UiServices {
public:
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ProcessMessages() override {}

private:
    std::mutex mutex_;
};

StderrServices defaultServices;
std::atomic<UiServices*> installed{nullptr};

}  // namespace

UiServices& Ui() {
    UiServices* services = installed.load(std::memory_order_acquire);
    return services ? *services : defaultServices;
}

UiServices* InstallUiServices(UiServices* services) {
    return installed.exchange(services, std::memory_order_acq_rel);
}

}  // namespace sigillon
