/* Preloaded into a program (LD_PRELOAD) to make every new thread fail as it
 * does when the system's limit on processes is reached. */
#include <errno.h>
#include <pthread.h>

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*), void* argument) {
    (void)thread;
    (void)attributes;
    (void)body;
    (void)argument;
    return EAGAIN;
}
