#include "thread_name.h"

#include <pthread.h>

#include <cstring>

void nameThisThread(const char* name) {
    // The kernel keeps 15 characters and refuses a longer name outright.
    char kept[16];
    std::strncpy(kept, name, sizeof kept - 1);
    kept[sizeof kept - 1] = '\0';
    pthread_setname_np(pthread_self(), kept);
}
