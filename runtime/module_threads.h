// Threads that run in this module on their own, past the call that started them (queries in
// the background): how many, so that Rizi.Start can hold their number and teardown leaves
// alone what they may still use.
#pragma once

namespace runtime {

// Counts one more thread unless limit already run; false (nothing counted) then.
bool EnterModuleThread(int limit);

// Counts one thread less: called last by the thread, once it uses nothing of the module's.
void LeaveModuleThread();

// How many run now.
int ModuleThreads();

} // namespace runtime
