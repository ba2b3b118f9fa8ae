#pragma once
// Dravik's side of a change: Windows shutdown and sign-out are held off while the volume is half written.
#include "engine/change_window.h"
#include "platform/win/shutdown_block.h"

namespace tlx::win {

class ShutdownChangeWindow final : public ChangeWindow {
public:
    void enter() override { block_.hold(); }
    void leave() override { block_.release(); }

private:
    ShutdownBlock block_;
};

}  // namespace tlx::win
