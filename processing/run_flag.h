// processing: CRunFlag, a dialog's run flag: a 32-bit block found by name
// within the process, 1 = run, 0 = stop.
//
// Each processing dialog creates its own flag under "SHORIFLAG" followed by
// the dialog's serial number, so closing one dialog stops only its own
// worker. The worker opens the flag by name; the block lives while anyone
// holds it (creator or opener), so neither side can outlive it.
//
// Threads: any thread may create, open, read and write; the block is an
// atomic and the name table is guarded by its own lock.
// May include: the C++ standard library and platform/win. No Qt.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/win/win_types.h"

class CRunFlag {
public:
    CRunFlag() = default;

    // Creates the block under strName holding nInitial, or joins the block
    // that already has that name (its value is kept). Never fails.
    static CRunFlag Create(const std::string& strName, LONG nInitial);
    // Joins an existing block; an empty CRunFlag when none has that name.
    static CRunFlag Open(const std::string& strName);
    // A fresh name "SHORIFLAG<serial>" with a process-wide increasing serial.
    static std::string NextName();

    bool IsValid() const { return m_pBlock != nullptr; }
    // An empty flag reads 0 (stop).
    LONG Get() const { return m_pBlock ? m_pBlock->load(std::memory_order_acquire) : 0; }
    void Set(LONG nValue) const {
        if (m_pBlock) m_pBlock->store(nValue, std::memory_order_release);
    }
    bool IsRunning() const { return Get() != 0; }
    // Lets go of the block (the name goes when its last holder lets go).
    void Close() { m_pBlock.reset(); }

private:
    std::shared_ptr<std::atomic<LONG>> m_pBlock;
};
