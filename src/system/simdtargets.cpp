// The instruction sets the vectorised scorers and searches may use, found when first needed.
//
// Highway's processor detection lives in libhwy, and loading that library calibrates a timer
// for several milliseconds of processor time (and more of waiting): longer than the rest of the
// start-up. Most sessions never align or search, so the library is opened by the first
// dispatched call instead. The dispatch tables only ask for the three functions below; the
// chosen target is a mask of the header's own type and needs nothing from the library.
#include <dlfcn.h>

#include <cstdio>

#include "hwy/targets.h"

namespace {

void *hwylibrary() {
    static void *lib = [] {
        void *h = dlopen("libhwy.so.1", RTLD_NOW | RTLD_LOCAL);
        if (h == nullptr) fprintf(stderr, "Warning, no vector instructions: %s\n", dlerror());
        return h;
    }();
    return lib;
}

template <class F>
F hwyfunction(const char *symbol) {
    void *lib = hwylibrary();
    return lib != nullptr ? (F)dlsym(lib, symbol) : nullptr;
}

} // namespace

namespace hwy {

ChosenTarget &GetChosenTarget() {
    static ChosenTarget chosen;
    return chosen;
}

// Without the library only the portable code runs, which every build has.
int64_t SupportedTargets() {
    static auto f = hwyfunction<int64_t (*)()>("_ZN3hwy16SupportedTargetsEv");
    return f != nullptr ? f() : HWY_SCALAR;
}

void SetSupportedTargetsForTest(int64_t targets) {
    static auto f = hwyfunction<void (*)(int64_t)>("_ZN3hwy26SetSupportedTargetsForTestEl");
    if (f != nullptr) f(targets);
}

} // namespace hwy
