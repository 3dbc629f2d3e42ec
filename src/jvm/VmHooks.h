// What the hosted VM says: its console output, its exit and its abort go to the
// native log through the three JNI hooks; while the VM is created, standard error
// is taken aside too, since HotSpot writes its warnings there past the output
// hook, and what lands there is logged as well. The terminal gets none of it.
#pragma once

#include <string>

#include "jvm/JvmOptions.h"

namespace corvane::jvm {

// Puts the hook functions' addresses into the inputs of the option list.
void addVmHooks(OptionInputs& inputs);

// Call right before JNI_CreateJavaVM: standard error goes into memory. When it
// cannot, one log line says so and standard error stays as it is.
void beginVmCreation();

// Call once JNI_CreateJavaVM has returned, `created` telling whether it made
// the VM: standard error is back where it was, and each line the VM wrote there
// meanwhile is in the log; a VM that was not created has them on standard error
// too. So does a VM that ends the process during its creation, through the
// exit (with a status other than 0) or the abort hook. Returns that text.
std::string endVmCreation(bool created);

}  // namespace corvane::jvm
