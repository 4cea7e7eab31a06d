// Loading the Qt GUI module of sigillon-batch (qt_module.h) when a run needs
// it, and the text renderer and stamp scaler it offers.
#pragma once

#include <string>

#include "app/batch/run.h"

struct SigillonQtModule;

namespace sigillon::batch {

class QtModule {
public:
    // Loads the module from beside this program (the build) or from its
    // library folder (installed); Problem() says why when it could not.
    QtModule();
    // Ends Qt, when it was started.
    ~QtModule();
    QtModule(const QtModule&) = delete;
    QtModule& operator=(const QtModule&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    const std::string& Problem() const { return problem_; }

    // Both need Loaded(); they stay valid for the life of the process.
    TextRenderer Renderer() const;
    StampScaler Scaler() const;

private:
    const SigillonQtModule* module_ = nullptr;
    std::string problem_;
};

}  // namespace sigillon::batch
