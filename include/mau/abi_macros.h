/* Calling-convention, export and thread-tag macros of the host boundary.
 *
 * Every function pointer that crosses between host and plug-in carries MAU_ABI, the C
 * calling convention with the caller removing the arguments. MAU_EXPORT marks the one
 * symbol the plug-in library makes visible; everything else is hidden.
 *
 * Thread tags used in the comments of plugin_abi.h:
 *   [host-thread]  called on the thread the host uses for the plug-in (its main thread);
 *                  the host never makes two such calls at once.
 *   [any-thread]   may be called on any thread, also concurrently.
 */
#ifndef MAU_ABI_MACROS_H
#define MAU_ABI_MACROS_H

#if defined(_WIN32) && !defined(_WIN64)
#  define MAU_ABI __cdecl
#else
#  define MAU_ABI
#endif

#if defined(_WIN32)
#  define MAU_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#  define MAU_EXPORT __attribute__((visibility("default")))
#else
#  define MAU_EXPORT
#endif

#ifdef __cplusplus
#  define MAU_EXTERN_C extern "C"
#else
#  define MAU_EXTERN_C
#endif

#endif /* MAU_ABI_MACROS_H */
