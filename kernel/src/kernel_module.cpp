// Binds the engine's start and stop steps to the loading and unloading of
// libvexakernel.so. Kept alone in its file so that tests linking the static
// engine library do not run them at program start.
#include "kernel_hooks.h"
#include "vexa/platform/module.h"

VEXA_MODULE_HOOKS("vexakernel", vexa::kernel::KernelStart, vexa::kernel::KernelStop)
