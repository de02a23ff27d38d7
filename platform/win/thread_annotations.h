// platform/win: lock annotations for clang's thread-safety analysis
// (-Wthread-safety). They turn the comments that name a member's lock into
// checks: clang reports a read or write of a GUARDED_BY member, or a call of
// a REQUIRES function, on a path that does not hold the named lock. Other
// compilers see nothing (every macro expands to nothing).
//
// The analysis is per function and knows locks by the expression that names
// them: a lock reached through another pointer to the same object (a base
// class's m_pLock set to a derived class's member) is a different lock to it.
// Members whose lock is only reachable that way keep their comment and no
// annotation.
// May include: nothing. No Qt.
#pragma once

#if defined(__clang__)
#define PELORA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELORA_THREAD_ANNOTATION(x)
#endif

// On a class: its objects are locks.
#define CAPABILITY(name) PELORA_THREAD_ANNOTATION(capability(name))
// On a class: an RAII guard that holds a lock for its lifetime.
#define SCOPED_CAPABILITY PELORA_THREAD_ANNOTATION(scoped_lockable)
// On a member: read or written only with the lock held.
#define GUARDED_BY(lock) PELORA_THREAD_ANNOTATION(guarded_by(lock))
// On a pointer member: what it points at is read or written only with the lock held.
#define PT_GUARDED_BY(lock) PELORA_THREAD_ANNOTATION(pt_guarded_by(lock))
// On a function: the caller must hold the locks.
#define REQUIRES(...) PELORA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// On a function: the caller must not hold the locks (checked only with
// -Wthread-safety-negative).
#define EXCLUDES(...) PELORA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// On a function: it takes the locks (none named: the object itself) and
// returns holding them.
#define ACQUIRE(...) PELORA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// On a function: it leaves the locks (none named: the object itself).
#define RELEASE(...) PELORA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// On a function: it checks that the calling thread holds the lock (none
// named: the object itself); the analysis takes it as held from there on.
#define ASSERT_CAPABILITY(lock) PELORA_THREAD_ANNOTATION(assert_capability(lock))
// On a function: it returns the named lock (an accessor of a member lock).
#define RETURN_CAPABILITY(lock) PELORA_THREAD_ANNOTATION(lock_returned(lock))
// On a function: not analysed. Only with a comment saying why the access is safe.
#define NO_THREAD_SAFETY_ANALYSIS PELORA_THREAD_ANNOTATION(no_thread_safety_analysis)
