// Pipeline resource queries: which resource kinds a task reads and writes, from the task dependency
// configuration or from a network's description.
#pragma once

#include <utility>

// (input union, output union) of the task: the resource names listed under
// "TaskDependency/<task name>/input" and ".../output" (a missing list gives 0), the task's name
// being its "TASK" enum name in zone "none". A sub-key other than "input" or "output" is fatal.
// Thread-safe.
std::pair<unsigned long long, unsigned long long> query_TaskResourceUnionGlobal(unsigned long long taskId);

// (resUnionInput, resUnionOutput) of network `networkId` in the network catalogue; a network without
// a description is fatal there. Thread-safe.
std::pair<unsigned long long, unsigned long long> query_NetworkResourceUnionNetworkForward(
    unsigned long long networkId);
