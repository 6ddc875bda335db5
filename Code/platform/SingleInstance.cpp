// PLACEHOLDER: single instance.
#include "platform/SingleInstance.h"
namespace platform {
namespace {
class Always : public SingleInstance {
public:
    bool IsPrimary() const override { return true; }
    WindowId RunningCopyWindow(int) override { return 0; }
    void Serve(std::function<WindowId()>) override {}
};
}  // namespace
std::unique_ptr<SingleInstance> SingleInstance::Claim() { return std::make_unique<Always>(); }
}  // namespace platform
