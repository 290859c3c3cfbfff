/*
 * The machine-dependent part of the JNI header for Windows, which the JDK's jni.h includes as
 * "jni_md.h". The Linux JDK that the cross builds compile against carries only its Linux variant,
 * so the Windows builds take this one. It follows the JNI types as documented for Windows:
 * exported and imported functions are marked for the DLL's export table, JNI functions use the
 * __stdcall convention, jint is 32 bits wide (a long on Windows), jlong 64 bits, jbyte signed.
 */
#ifndef STEWARD_PLATFORM_JNI_WINDOWS_JNI_MD_H
#define STEWARD_PLATFORM_JNI_WINDOWS_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif /* STEWARD_PLATFORM_JNI_WINDOWS_JNI_MD_H */
