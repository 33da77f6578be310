// One compiled model loaded into one IPU channel: its tensor descriptors, the buffer copies of every
// input and output tensor (allocated once, in platform memory) and a synchronous invocation on the
// copies that the caller's descriptors name. A network wrapper owns one per network.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nn/ssc/kavo_ipu_common.h"

class MmzMemory;

// Not thread-safe; one invocation at a time (the compute-core queue serialises callers).
class KavoIpuNetwork {
 public:
  // Loads cfg.modelFile into a new channel (the device must be started, see KAVO_IPU_Init): read
  // directly when keyId < 0, else read whole, decrypted with key `keyId` and handed to the channel
  // through a read callback. Allocates cfg.u32BlobCopies (at most KAVO_IPU_IF_BLOB_MAX_NUM) buffers
  // per tensor. Every failure is fatal.
  KavoIpuNetwork(const KAVO_MODEL_CFG_S& cfg, int keyId);
  // Destroys the channel, then releases the buffers.
  ~KavoIpuNetwork();
  KavoIpuNetwork(const KavoIpuNetwork&) = delete;
  KavoIpuNetwork& operator=(const KavoIpuNetwork&) = delete;

  // Runs the model on the buffers named by `input` (nIn descriptors) and `output` (nOut), which
  // must be the model's tensors in model order (u32Index i at position i). Returns when the outputs
  // are written. Count or order mismatches and IPU failures are fatal.
  void run(KAVO_MODEL_BLOB_INFO_S* input, int nIn, KAVO_MODEL_BLOB_INFO_S* output, int nOut);

  // Numbers of input and output tensors.
  std::pair<int, int> getInputOutputCount() const;
  // Copies of the input and output descriptors, with the addresses of buffer copy 0 (zero without
  // copies).
  std::pair<std::vector<KAVO_MODEL_BLOB_INFO_S>, std::vector<KAVO_MODEL_BLOB_INFO_S>> getInputOutputBlobDesc()
      const;
  // The buffer copies of every input and output tensor, in model order.
  std::pair<std::vector<KAVO_MODEL_MEM_INFO_S>, std::vector<KAVO_MODEL_MEM_INFO_S>> getInputOutputBlobMem()
      const;
  // Bytes of all buffer copies.
  unsigned int getInOutBufferBytes() const { return totalBytes_; }

 private:
  // The channel's tensor counts as the platform reports them, and their text for the failure
  // message of run().
  struct ChannelState {
    int ret = 0;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
  };
  ChannelState channel_state() const;
  std::string describe(const ChannelState& st, const char* when) const;

  std::string modelName_;
  std::string modelFile_;
  [[maybe_unused]] uint32_t maxRoiSize_ = 0;
  uint32_t u32BlobCopies_ = 0;
  std::vector<KAVO_MODEL_BLOB_INFO_S> _inputBlobInfo;
  std::vector<KAVO_MODEL_BLOB_INFO_S> _outputBlobInfo;
  std::vector<KAVO_MODEL_MEM_INFO_S> inputMem_;
  std::vector<KAVO_MODEL_MEM_INFO_S> outputMem_;
  // Own the memory that the records above point at.
  std::vector<std::vector<std::shared_ptr<MmzMemory>>> inputBuffers_;
  std::vector<std::vector<std::shared_ptr<MmzMemory>>> outputBuffers_;
  uint32_t chn_ = 0;
  uint32_t totalBytes_ = 0;
};
