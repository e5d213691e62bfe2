// The engine's start and stop steps, and the points where later engine parts join.
#pragma once

namespace vexa::kernel {

// The start hook: opens the trace, reads the configuration. 0 or -1 (the cause
// is recorded with vexa::ModuleSetFailure).
int KernelStart();
// The stop hook: releases the slot list, closes the trace.
void KernelStop();
// Back to the defaults, with the memory of the old values freed.
void ClearConfig();

// Defined by the slot list: releases the slot table once at process stop (the
// UnloadSlots step of the stop hook). Weak, so that the engine frame links and
// runs before the slot list exists; the stop hook skips the step while it is
// undefined. Define it (in namespace vexa::kernel) in the slot list's source.
void UnloadSlotsAtStop() __attribute__((weak));

}  // namespace vexa::kernel
