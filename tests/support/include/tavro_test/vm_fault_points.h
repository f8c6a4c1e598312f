// The Java VM stand-in's failing calls as points of a fault sweep, and what every export must
// leave in the VM afterwards: nothing pending, or only the error the VM itself raised for the
// call it refused (Java then sees that error and calls nothing more).
#pragma once

#include "fault_sweep.h"

#include <java_vm_standin.h>

#include <gtest/gtest.h>

#include <string>

namespace tavro::test {

class VmFaultPoints {
public:
    explicit VmFaultPoints(JavaVmStandIn& vm) : vm_(vm) {
        vm_.failWhen([this](const char* jniFunction) {
            const bool fails = faultPointFails(jniFunction);
            if (fails) refused_ = jniFunction;
            return fails;
        });
    }
    ~VmFaultPoints() { vm_.failWhen({}); }
    VmFaultPoints(const VmFaultPoints&) = delete;
    VmFaultPoints& operator=(const VmFaultPoints&) = delete;

    // Whether the VM refused a call since the last settle().
    bool refused() const { return !refused_.empty(); }

    // After each export: checks what is pending, then clears it.
    void settle() {
        const std::string pending = vm_.pendingExceptionClass();
        if (refused()) {
            // A refused FindClass raises NoClassDefFoundError, a refused critical region nothing,
            // every other refusal OutOfMemoryError.
            const std::string raised = refused_ == "FindClass" ? "java/lang/NoClassDefFoundError"
                                                               : "java/lang/OutOfMemoryError";
            EXPECT_TRUE(pending.empty() || pending == raised) << pending << " after " << failedPoint();
        } else {
            EXPECT_TRUE(pending.empty()) << pending << " after " << failedPoint();
        }
        EXPECT_EQ(vm_.callsWithPendingException(), 0) << "after " << failedPoint();
        vm_.clearException();
        refused_.clear();
    }

private:
    JavaVmStandIn& vm_;
    std::string refused_;
};

}  // namespace tavro::test
