#include "nn/ssc/kavo_ipu_network.h"

#include <glog/logging.h>

#include <chrono>
#include <cstring>
#include <sstream>

#include "kbase/Clock.h"
#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "mi_ipu.h"
#include "platform/Mmz.h"

namespace {

// Hands the channel the decrypted model; reads outside it fail instead of overrunning it.
MI_S32 read_decrypted(void* dst, MI_U32 offset, MI_U32 size, void* ctx) {
  const auto* model = static_cast<const std::string*>(ctx);
  if (offset > model->size() || size > model->size() - offset) return -1;
  std::memcpy(dst, model->data() + offset, size);
  return 0;
}

KAVO_MODEL_BLOB_INFO_S make_record(const MI_IPU_TensorDesc_t& d, uint32_t index) {
  KAVO_MODEL_BLOB_INFO_S sBlob;
  sBlob.enBlobType = d.eElmFormat;
  sBlob.u32ShapeVec.assign(d.u32TensorShape, d.u32TensorShape + d.u32TensorDim);
  sBlob.u32StrideBytes = d.u32InnerMostStride;
  sBlob.u32Index = index;
  sBlob.u32AlignedBufSize = d.u32AlignedBufSize;
  sBlob.fScalar = d.fScalar;
  sBlob.s64ZeroPoint = d.s64ZeroPoint;
  sBlob.name = d.name;
  return sBlob;
}

// Allocates `copies` buffers for every tensor; the records take the addresses and the size of copy 0.
void allocate_buffers(uint32_t copies, std::vector<KAVO_MODEL_BLOB_INFO_S>* blobs,
                      std::vector<KAVO_MODEL_MEM_INFO_S>* mems,
                      std::vector<std::vector<std::shared_ptr<MmzMemory>>>* buffers, uint32_t* total) {
  for (KAVO_MODEL_BLOB_INFO_S& blob : *blobs) {
    KAVO_MODEL_MEM_INFO_S mem;
    std::vector<std::shared_ptr<MmzMemory>> owned;
    for (uint32_t k = 0; k < copies; ++k) {
      auto block = std::make_shared<MmzMemory>(static_cast<int>(blob.u32AlignedBufSize));
      mem.pVirAddr[k] = block->data();
      mem.u64PhyAddr[k] = block->phy_addr();
      *total += block->capacity();
      owned.push_back(std::move(block));
    }
    mem.u32Size = copies;
    // The allocator rounds up to whole pages: the tensor may use all of it.
    if (!owned.empty()) blob.u32AlignedBufSize = owned[0]->capacity();
    mems->push_back(mem);
    buffers->push_back(std::move(owned));
  }
}

void attach_copy0(const std::vector<KAVO_MODEL_MEM_INFO_S>& mems,
                  std::vector<KAVO_MODEL_BLOB_INFO_S>* blobs) {
  for (size_t i = 0; i < blobs->size(); ++i) {
    if (mems[i].u32Size == 0) continue;
    (*blobs)[i].pVirAddr = mems[i].pVirAddr[0];
    (*blobs)[i].u64PhyAddr = mems[i].u64PhyAddr[0];
  }
}

}  // namespace

KavoIpuNetwork::KavoIpuNetwork(const KAVO_MODEL_CFG_S& cfg, int keyId)
    : modelName_(cfg.modelName),
      modelFile_(cfg.modelFile),
      maxRoiSize_(cfg.maxRoiSize),
      u32BlobCopies_(cfg.u32BlobCopies) {
  LOG(WARNING) << "Init for Network: " << modelName_ << ", model file: " << modelFile_;
  Clock<std::chrono::steady_clock> clock;
  MI_IPU_ChnAttr_t attr{};
  attr.u32InputBufDepth = 0;
  attr.u32OutputBufDepth = 0;
  MI_S32 s32Ret = MI_SUCCESS;
  if (keyId < 0) {
    s32Ret = MI_IPU_CreateCHN(&chn_, &attr, nullptr, const_cast<char*>(modelFile_.c_str()));
  } else {
    LOG(WARNING) << "decrypt model using key id " << keyId;
    std::shared_ptr<const std::string> sealed = filebuffer::read(modelFile_);
    std::string model = kavo_sym_decrypt(sealed ? *sealed : std::string(), keyId, 0);
    // No model is empty: the channel creation below fails and stops; this line names the file.
    LOG_IF(ERROR, model.empty()) << "cannot decrypt model file " << modelFile_ << " with key id " << keyId;
    s32Ret = MI_IPU_CreateCHN(&chn_, &attr, read_decrypted, &model);
  }
  CHECK(s32Ret == MI_SUCCESS) << "Create Model failed: " << modelFile_ << ", model name: " << modelName_
                              << ", ret=0x" << std::hex << s32Ret;
  LOG(WARNING) << "[Time Cost] MI_IPU_CreateCHN: " << clock.elapsed_ms() << " ms.";
  LOG(WARNING) << modelName_ << " use channel id: " << chn_;
  LOG(WARNING) << "Get Input / Output Desc for model " << modelName_;

  clock.reset();
  // About 12 KB: kept off the stack of callers with small stacks.
  auto desc = std::make_unique<MI_IPU_InOutDesc_t>();
  s32Ret = MI_IPU_GetInOutTensorDesc(chn_, desc.get());
  LOG(WARNING) << "[Time Cost] MI_IPU_GetInOutTensorDesc: " << clock.elapsed_ms() << " ms.";
  CHECK(s32Ret == MI_SUCCESS) << "MI_IPU_GetInOutTensorDesc for model " << modelName_ << " failed. ret=0x"
                              << std::hex << s32Ret;
  LOG(WARNING) << "IPU Channel " << chn_ << ": u32InputTensorCount=" << desc->u32InputTensorCount
               << ", u32OutputTensorCount=" << desc->u32OutputTensorCount;
  for (uint32_t i = 0; i < desc->u32InputTensorCount; ++i) {
    KAVO_MODEL_BLOB_INFO_S sBlob = make_record(desc->astInputTensorDescs[i], i);
    if (sBlob.enBlobType == MI_IPU_FORMAT_NV12) {
      CHECK(sBlob.u32ShapeVec.size() >= 3);
      const size_t n = sBlob.u32ShapeVec.size();
      const uint32_t height = sBlob.u32ShapeVec[n - 3];
      const uint32_t width = sBlob.u32ShapeVec[n - 2];
      CHECK(sBlob.u32AlignedBufSize == height * width * 3 / 2) << "image required must be aligned.";
    }
    LOG(WARNING) << "\n" << KAVO_IPU_BLOB_Print(sBlob) << "\n";
    _inputBlobInfo.push_back(sBlob);
  }
  for (uint32_t i = 0; i < desc->u32OutputTensorCount; ++i) {
    KAVO_MODEL_BLOB_INFO_S sBlob = make_record(desc->astOutputTensorDescs[i], i);
    LOG(WARNING) << "\n" << KAVO_IPU_BLOB_Print(sBlob) << "\n";
    _outputBlobInfo.push_back(sBlob);
  }
  CHECK(cfg.u32BlobCopies <= KAVO_IPU_IF_BLOB_MAX_NUM)
      << "blob copies must be LE than " << KAVO_IPU_IF_BLOB_MAX_NUM;
  LOG(WARNING) << "[Time Cost] Get Input/Output Buffer Specs: " << clock.elapsed_ms() << " ms.";

  clock.reset();
  allocate_buffers(u32BlobCopies_, &_inputBlobInfo, &inputMem_, &inputBuffers_, &totalBytes_);
  allocate_buffers(u32BlobCopies_, &_outputBlobInfo, &outputMem_, &outputBuffers_, &totalBytes_);
  LOG(WARNING) << "[Time Cost] Allocate Input/Output Buffers: " << clock.elapsed_ms() << " ms.";
  LOG(WARNING) << "Init Network " << modelName_ << " finished.";
}

KavoIpuNetwork::~KavoIpuNetwork() {
  LOG(WARNING) << "Network " << modelName_ << " Destory ...";
  MI_S32 s32Ret = MI_IPU_DestroyCHN(chn_);
  CHECK(s32Ret == MI_SUCCESS) << "MI_IPU_DestroyCHN failed for chnid=" << chn_
                              << ", model name: " << modelName_ << ", modelFile: " << modelFile_;
  LOG(WARNING) << "Network " << modelName_ << " Destroy Successfully.";
}

KavoIpuNetwork::ChannelState KavoIpuNetwork::channel_state() const {
  MI_IPU_InOutDesc_t desc;
  ChannelState st;
  st.ret = MI_IPU_GetInOutTensorDesc(chn_, &desc);
  if (st.ret == MI_SUCCESS) {
    st.inputs = desc.u32InputTensorCount;
    st.outputs = desc.u32OutputTensorCount;
  }
  return st;
}

std::string KavoIpuNetwork::describe(const ChannelState& st, const char* when) const {
  std::ostringstream os;
  if (st.ret == MI_SUCCESS) {
    os << when << " invoke: channel " << chn_ << " u32InputTensorCount=" << st.inputs
       << ", u32OutputTensorCount=" << st.outputs;
  } else {
    os << "Channel id=" << chn_ << ". " << when
       << " invoke, MI_IPU_GetInOutTensorDesc failed, ret=" << st.ret;
  }
  return os.str();
}

void KavoIpuNetwork::run(KAVO_MODEL_BLOB_INFO_S* input, int nIn, KAVO_MODEL_BLOB_INFO_S* output, int nOut) {
  // Unsigned, so that the comparisons below are not between signed and unsigned.
  const size_t inputSize = static_cast<size_t>(nIn);
  const size_t outputSize = static_cast<size_t>(nOut);
  CHECK(inputSize == _inputBlobInfo.size()) << "Input size not matched for " << modelName_ << ", Required "
                                            << _inputBlobInfo.size() << " while call inputs " << nIn;
  CHECK(outputSize == _outputBlobInfo.size()) << "Output size not matched for " << modelName_ << ", Required "
                                              << _outputBlobInfo.size() << " while call outputs " << nOut;
  MI_IPU_TensorVector_t in;
  MI_IPU_TensorVector_t out;
  in.u32TensorCount = static_cast<MI_U32>(nIn);
  for (int i = 0; i < nIn; ++i) {
    CHECK(input[i].u32Index == (unsigned)i)
        << "input data order not matched: require " << i << " but get " << input[i].u32Index;
    in.astArrayTensors[i].pVirAddr = input[i].pVirAddr;
    in.astArrayTensors[i].phyAddr = input[i].u64PhyAddr;
  }
  out.u32TensorCount = static_cast<MI_U32>(nOut);
  for (int i = 0; i < nOut; ++i) {
    CHECK(output[i].u32Index == (unsigned)i)
        << "output data order not matched: require " << i << " but get " << output[i].u32Index;
    out.astArrayTensors[i].pVirAddr = output[i].pVirAddr;
    out.astArrayTensors[i].phyAddr = output[i].u64PhyAddr;
  }
  // The channel is described around the call; the text is made only for the failure message.
  const ChannelState before = channel_state();
  MI_S32 s32Ret = MI_IPU_Invoke(chn_, &in, &out);
  const ChannelState after = channel_state();
  if (s32Ret != MI_SUCCESS) {
    CHECK(s32Ret == MI_SUCCESS) << "Channel id=" << chn_ << ". MI_IPU_Invoke failed, ret=0x" << std::hex
                                << s32Ret << "\n"
                                << describe(before, "before") << "\n"
                                << describe(after, "after");
  }
}

std::pair<int, int> KavoIpuNetwork::getInputOutputCount() const {
  return {static_cast<int>(_inputBlobInfo.size()), static_cast<int>(_outputBlobInfo.size())};
}

std::pair<std::vector<KAVO_MODEL_BLOB_INFO_S>, std::vector<KAVO_MODEL_BLOB_INFO_S>>
KavoIpuNetwork::getInputOutputBlobDesc() const {
  auto result = std::make_pair(_inputBlobInfo, _outputBlobInfo);
  attach_copy0(inputMem_, &result.first);
  attach_copy0(outputMem_, &result.second);
  return result;
}

std::pair<std::vector<KAVO_MODEL_MEM_INFO_S>, std::vector<KAVO_MODEL_MEM_INFO_S>>
KavoIpuNetwork::getInputOutputBlobMem() const {
  return {inputMem_, outputMem_};
}
