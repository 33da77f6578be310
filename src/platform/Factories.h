// Process-wide pipeline objects built from configuration: the global frame resource store with the
// producers of the built-in resource kinds, the per-network stores of tensors, the message-socket
// reader and the frame reader over it.
// Each is built on first use (concurrent first callers wait for one construction) and kept until
// exit; every call returns a new shared pointer to the same object. Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "frss/FrameResourceStore.h"

class FrameReader;
class ShareDataReader;

// The producers of the built-in kinds: 1 FrameTime, 2 large image, 4 small image (empty NV12
// images in platform memory), 8 DetectorClassRois, 16 DetectorPartRois, 32 TrackerRois,
// 64 MarkedFaceRois.
const std::unordered_map<unsigned long long, FrameResourceStore::Producer>& mapResource2Producer();

// The global store: capacity "memCntPreallocatedByLib_Global" (at most 20, fatal beyond), one
// duplicate frame kept, every built-in kind registered.
std::shared_ptr<FrameResourceStore> singleton_FrameResourceStore();
// The socket reader of "ShareDataCamera/..." or "ShareDataVideo/..." (by
// "FrameReaderHisi/fromCameraNotVideo"); "type" "zmq" selects ZeroMQ, anything else nanomsg.
std::shared_ptr<ShareDataReader> singleton_ShareDataReader();
// The frame reader (FrameReaderHisi) over singleton_ShareDataReader(), from "FrameReaderHisi/...".
std::shared_ptr<FrameReader> singleton_FrameReader();

// The frame resource store of network `networkId`, which holds the network's tensors: made on first
// call for every catalogued network, with the "RESOURCE" kinds of its zone that it reads or writes
// and capacity "memCntPreallocatedByLib_Single" (at most 10, fatal beyond). A network without a store
// gives an empty pointer, or is fatal with failCheck.
std::shared_ptr<FrameResourceStore> get_FrameResourceStore(unsigned long long networkId, bool failCheck);
// A new host float feature map (BlobGeneral<float>, "UNKNOWN_BLOBGENERAL") shaped as the blob
// description of `resId` in `zone`; a producer for network resources the application manages.
// Missing and library-managed blobs are fatal.
std::shared_ptr<ResourceBase> produce_FeatureMap(unsigned long long resId, const std::string& zone);
