// Loads the token engine as a client process would and calls one entry point.
// Usage: vexakernel_load [path-to-libvexakernel.so]
// Exit status: 0 the engine started and answered; 1 it refused; 2 it did not load.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>

using HRESULT = int32_t;
using GetClassObjectFn = HRESULT (*)(const void*, const void*, void**);

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : VEXA_KERNEL_SO;
  void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 2;
  }
  auto fn = reinterpret_cast<GetClassObjectFn>(dlsym(h, "DllGetClassObject"));
  if (fn == nullptr) {
    std::fprintf(stderr, "%s has no DllGetClassObject\n", path);
    dlclose(h);
    return 2;
  }
  void* obj = nullptr;
  HRESULT hr = fn(nullptr, nullptr, &obj);
  std::printf("DllGetClassObject: 0x%08x\n", static_cast<unsigned>(hr));
  dlclose(h);
  return hr == 0 ? 0 : 1;
}
