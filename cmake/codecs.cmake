# The picture readers and the resampler, from Debian's packages:
#   libpng-dev           PNG in and out (libpng 1.6), with zlib1g-dev
#   libjpeg62-turbo-dev  JPEG (libjpeg-turbo)
#   libstb-dev           stb_image_resize.h (compiled into image/stb_resize.cpp) and
#                        stb_image.h's BMP reader (image/bmp_reader.cpp)
#   libgif-dev           GIF (giflib)
#   libwebp-dev          WebP (libwebp, and libwebpdemux for animations)
# The static archives those packages ship are preferred: kovrel is linked
# statically for its start-up time (cmake/speed.cmake), and the archives
# link into the tests and the sanitised builds as well. libspng, which
# Debian packages only as a shared library, would take the program's
# static link away. Shared libraries are the fallback elsewhere.
find_path(KOVREL_PNG_INCLUDE png.h PATH_SUFFIXES libpng16)
find_library(KOVREL_PNG_LIBRARY NAMES libpng16.a libpng.a png16 png)
find_library(KOVREL_ZLIB_LIBRARY NAMES libz.a z)
find_path(KOVREL_JPEG_INCLUDE jpeglib.h)
find_library(KOVREL_JPEG_LIBRARY NAMES libjpeg.a jpeg)
find_path(KOVREL_STB_INCLUDE stb_image_resize.h PATH_SUFFIXES stb)
find_path(KOVREL_GIF_INCLUDE gif_lib.h)
find_library(KOVREL_GIF_LIBRARY NAMES libgif.a gif)
find_path(KOVREL_WEBP_INCLUDE webp/decode.h)
find_library(KOVREL_WEBP_LIBRARY NAMES libwebp.a webp)
find_library(KOVREL_WEBPDEMUX_LIBRARY NAMES libwebpdemux.a webpdemux)
foreach(found IN ITEMS KOVREL_PNG_INCLUDE KOVREL_PNG_LIBRARY KOVREL_ZLIB_LIBRARY KOVREL_JPEG_INCLUDE
                       KOVREL_JPEG_LIBRARY KOVREL_STB_INCLUDE KOVREL_GIF_INCLUDE KOVREL_GIF_LIBRARY
                       KOVREL_WEBP_INCLUDE KOVREL_WEBP_LIBRARY KOVREL_WEBPDEMUX_LIBRARY)
  if(NOT ${found})
    message(FATAL_ERROR "${found} not found: bash tools/install-packages.sh installs what the build needs "
                        "(apt-get install libpng-dev zlib1g-dev libjpeg62-turbo-dev libstb-dev libgif-dev libwebp-dev)")
  endif()
endforeach()

add_library(kovrel_codecs INTERFACE)
target_include_directories(kovrel_codecs SYSTEM INTERFACE ${KOVREL_PNG_INCLUDE} ${KOVREL_JPEG_INCLUDE}
                                                          ${KOVREL_STB_INCLUDE} ${KOVREL_GIF_INCLUDE}
                                                          ${KOVREL_WEBP_INCLUDE})
target_link_libraries(kovrel_codecs INTERFACE ${KOVREL_PNG_LIBRARY} ${KOVREL_ZLIB_LIBRARY} ${KOVREL_JPEG_LIBRARY}
                                              ${KOVREL_GIF_LIBRARY} ${KOVREL_WEBPDEMUX_LIBRARY} ${KOVREL_WEBP_LIBRARY} m)
