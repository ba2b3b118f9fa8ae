#pragma once
// Where the apply engine has the sectors saved before it writes them.
#include "bootsector/plan.h"

namespace tlx {

class BackupSink {
public:
    virtual ~BackupSink() = default;
    // True once the plan's "before" bytes are safely stored.
    [[nodiscard]] virtual bool save(const ChangePlan& plan) = 0;
};

}  // namespace tlx
