#pragma once

#include <string>
#include <utility>

#include "platform/Failure.h"

// How a tool's run ended, for a caller that acts on it (a script's exit status, a report). The
// windows go by what the run showed them and need not look at it.
struct RunOutcome {
    enum class End { Done, Failed, Cancelled };

    End Ending = End::Done;
    // Failed: what kind of failure (never None) and why, in the words the run showed last.
    platform::FailureKind Kind = platform::FailureKind::None;
    std::wstring Why;

    static RunOutcome Fail(platform::FailureKind kind, std::wstring why) {
        // A failure always has a kind, so that no caller takes it for success.
        return {End::Failed,
                kind == platform::FailureKind::None ? platform::FailureKind::DeviceFault : kind,
                std::move(why)};
    }
    static RunOutcome Cancel() { return {End::Cancelled, platform::FailureKind::None, {}}; }
};
