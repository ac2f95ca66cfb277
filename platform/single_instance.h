// One running copy per user. The first start holds a name; a later start
// asks the copy that holds it to come forward and ends.
#pragma once

#include <cstdint>

struct SingleInstance;

// Windows: the window class of the main dialog. The dialog resource names it
// and the window program registers it; a later start finds the running copy's
// window by it.
constexpr const char* InstanceWindowClassName = "VUD Data Converter";

enum class InstanceClaim : int32_t {
    First,        // this start holds the name until releaseSingleInstance
    Another,      // another copy holds it and has been asked to come forward
    Unavailable,  // the name can be neither held nor reached; run without it
};

// The name the program's copies share: the environment's VUD_INSTANCE_NAME
// when set and not empty (so that the copies a test starts keep apart from a
// copy the user runs), else name.
const char* sharedInstanceName(const char* name);

// instance receives the holder on First, null otherwise.
InstanceClaim claimSingleInstance(const char* name, SingleInstance** instance);
// Readable when a later start has asked; for the message loop to watch.
// -1 on Windows, where the later start raises the running window itself.
int32_t singleInstanceDescriptor(const SingleInstance* instance);
// Accepts the pending requests without waiting; true when one of them came
// from this user.
bool takeActivationRequests(SingleInstance* instance);
void releaseSingleInstance(SingleInstance* instance);
