// The entry points of the server function library kv_udf.dll, as the databases declare them
// (DECLARE EXTERNAL FUNCTION ... MODULE_NAME 'kv_udf.dll'). Loaded by the Firebird engine only.
//
// Texts are ISO8859_1 bytes. A word is a run of characters other than the separator (blank by
// default). Results declared FREE_IT are allocated with ib_util_malloc; the engine frees them.
#pragma once

#include <ibase.h>

#define KV_UDF_EXPORT __attribute__((visibility("default")))

extern "C" {

// 1 when every word of `words` occurs in the text, without regard to case; 0 otherwise. A search
// text without words matches any text.
KV_UDF_EXPORT int FindStringsInBlob(BLOBCALLBACK text, const char* words);
KV_UDF_EXPORT int FindStringsInString(const char* words, const char* text);
// Every word must occur in at least one of the five texts.
KV_UDF_EXPORT int FindStringsIn5Strings(const char* words, const char* text1, const char* text2,
                                        const char* text3, const char* text4, const char* text5);

// "éLAN vital": CapitalizeFirst gives "Élan vital" (first letter upper case, the rest lower case),
// Capitalize gives "Élan Vital" (each word so).
KV_UDF_EXPORT char* CapitalizeFirst(const char* text);
KV_UDF_EXPORT char* Capitalize(const char* text);

// Free bytes of a drive of the host prefix (KORVANE_PREFIX, default ~/.korvane) as this process
// sees it; [udf] free_space_<LETTER> of prefix.ini overrides the answer. -1 when it cannot tell.
KV_UDF_EXPORT ISC_INT64 GetFreeDiskSpace(const char* letter);

// major*1000000 + minor*10000 + patch*100 + tweak of the build.
KV_UDF_EXPORT int GetDLLVersion();

// 1 for an optionally signed decimal number ("12", " -3,5 ", "+0.25"), 0 otherwise.
KV_UDF_EXPORT int IsANumber(const char* text);

// Writes the end (at most the last 64 KB, from a line start) of the engine's firebird.log into
// the result blob; nothing when there is no log.
KV_UDF_EXPORT void GetLogData(BLOBCALLBACK result);

// `separator` is a character code; 0 means blank. Words are numbered from 1.
// The 1-based character position where word `index` starts; 0 when there is no such word.
KV_UDF_EXPORT int GetStrWordIndex(const char* text, const int* index, const int* separator);
// Word `index`; empty when there is no such word.
KV_UDF_EXPORT char* GetStrWordAt(const char* text, const int* index, const int* separator);

KV_UDF_EXPORT int GetStrLen(const char* text);

// The blob's bytes as a text, cut at the first null byte and at 32766 bytes.
KV_UDF_EXPORT char* GetBlobString(BLOBCALLBACK blob);
}
