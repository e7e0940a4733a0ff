// Export macro of the host services library; everything else in it stays hidden.
#pragma once

#if defined(_WIN32)
#  if defined(TESSERA_HOST_BUILDING)
#    define TESSERA_HOST_API __declspec(dllexport)
#  else
#    define TESSERA_HOST_API __declspec(dllimport)
#  endif
#else
#  define TESSERA_HOST_API __attribute__((visibility("default")))
#endif
