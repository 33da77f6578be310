// Mapping of physical memory into the process: frame buffers and tensors that other processes or the
// platform hand over by physical address (platform frame buffers of the camera sender, IPU tensors).
#pragma once

// Maps `u32Size` (> 0) bytes at physical address `phy` into this process (cached) and returns the CPU
// address of `phy`. The first call opens the physical-memory device and keeps it open for the process.
// Thread-safe. Failures are fatal.
void* KAVO_SYS_IOMmap(unsigned long long phy, unsigned int u32Size);

// Unmaps a mapping made by KAVO_SYS_IOMmap, with its address and size. Failures are fatal.
void KAVO_SYS_Munmap(void* vir, unsigned int size);
