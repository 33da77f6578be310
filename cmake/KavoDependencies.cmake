# Third-party packages, all from Debian (scripts/deps.sh installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(glog REQUIRED)
find_package(Boost REQUIRED COMPONENTS regex)
find_package(nlohmann_json REQUIRED)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
pkg_check_modules(ZMQ REQUIRED IMPORTED_TARGET libzmq)
pkg_check_modules(NANOMSG REQUIRED IMPORTED_TARGET nanomsg)

# libyuv ships neither a CMake config nor a pkg-config file on Debian.
find_library(KAVO_LIBYUV yuv REQUIRED)
find_path(KAVO_LIBYUV_INCLUDE libyuv.h REQUIRED)
if(NOT TARGET kavo::yuv)
  add_library(kavo::yuv UNKNOWN IMPORTED)
  set_target_properties(kavo::yuv PROPERTIES IMPORTED_LOCATION ${KAVO_LIBYUV}
                                             INTERFACE_INCLUDE_DIRECTORIES ${KAVO_LIBYUV_INCLUDE})
endif()

# The IPU stand-in runs ONNX models with OpenCV dnn; tests, benchmarks and tools use more of it.
find_package(OpenCV REQUIRED COMPONENTS core imgproc imgcodecs videoio dnn)
if(KAVO_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(KAVO_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
