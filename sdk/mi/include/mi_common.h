/* Common types and status codes of the platform SDK stand-in. */
#ifndef KAVO_MI_COMMON_H_
#define KAVO_MI_COMMON_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t MI_S32;
typedef uint32_t MI_U32;
typedef uint64_t MI_U64;
typedef uint64_t MI_PHY;

#define MI_SUCCESS 0

#ifdef __cplusplus
}
#endif

#endif /* KAVO_MI_COMMON_H_ */
