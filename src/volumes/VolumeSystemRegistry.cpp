#include "volumes/VolumeSystem.h"

namespace ondrel {

// One line per volume system; each is defined in its own folder.
const VolumeSystem& mbrVolumeSystem();
const VolumeSystem& gptVolumeSystem();
const VolumeSystem& sweepVolumeSystem();
const VolumeSystem& lvm2VolumeSystem();

const std::vector<const VolumeSystem*>& volumeSystems() {
    static const std::vector<const VolumeSystem*> all{&gptVolumeSystem(), &mbrVolumeSystem(), &lvm2VolumeSystem(),
                                                        &sweepVolumeSystem()};
    return all;
}

const VolumeSystem* findVolumeSystem(const std::string& name) {
    for (const VolumeSystem* v : volumeSystems())
        if (v->name() == name) return v;
    return nullptr;
}

}  // namespace ondrel
