// The launcher's whole decision path: find DOSBox, check the PowerBasic folder, make sure a
// dosbox.conf exists there, and start DOSBox running PB.exe. Every failure the user should
// know of becomes one "ERROR!" message box; nothing is returned.
#ifndef LAUNCH_LAUNCH_SEQUENCE_H_
#define LAUNCH_LAUNCH_SEQUENCE_H_

#include "launch/platform_services.h"

namespace launcher {

// Runs once per process. Reaches the system only through `platform`; its texts live in
// platform.Texts() until the process frame releases them.
void RunLaunchSequence(PlatformServices& platform);

}  // namespace launcher

#endif  // LAUNCH_LAUNCH_SEQUENCE_H_
