// Conversion, character-class and formatted-I/O wrappers that always use the
// "C" locale, whatever locale the host process has set. Each returns exactly
// what its standard counterpart returns.
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <locale.h>

extern "C" {

locale_t* getCLocale(void);
void freeCLocale(void);

double atof_C(const char* text);
int atoi_C(const char* text);
int atol_C(const char* text);
int stricmp_C(const char* a, const char* b);
int isalnum_C(int c);
int isalpha_C(int c);
int isdigit_C(int c);
int islower_C(int c);
int isupper_C(int c);
int isspace_C(int c);
int toupper_C(int c);
int tolower_C(int c);

int fscanf_C_Word(FILE* stream, char* word);
int fscanf_C_UntilBracket(FILE* stream, char* text, char* bracket);
int fscanf_C_Double(FILE* stream, double* value);
int fscanf_C_ThreeDoubles(FILE* stream, double* a, double* b, double* c);
int fscanf_C_Float(FILE* stream, float* value);
int fscanf_C_Int(FILE* stream, int* value);
int fscanf_C_ThreeUnsigned(FILE* stream, unsigned* a, unsigned* b, unsigned* c);
int fscanf_C_ThreeInts(FILE* stream, int* a, int* b, int* c);
int fscanf_C_Relation(FILE* stream, char* op, char* text, char* rest);

int sscanf_C_Int(const char* s, int* value);
int sscanf_C_AnyBaseInt(const char* s, int* value);
int sscanf_C_Date(const char* s, int* a, int* b, int* c);
int sscanf_C_FiveInts(const char* s, int* a, int* b, int* c, int* d, int* e);
int sscanf_C_SlashTriple(const char* s, int* a, int* b, int* c);
int sscanf_C_SlashPair(const char* s, int* a, int* b);
int sscanf_C_DoubleSlashPair(const char* s, int* a, int* b);
int sscanf_C_Float(const char* s, float* value);
int sscanf_C_Unsigned(const char* s, unsigned* value);
int sscanf_C_Include(const char* s, char* name);
int sscanf_C_Version(const char* s, char* version);
int sscanf_C_FloatComma(const char* s, float* value);
int sscanf_C_Double(const char* s, double* value);
int sscanf_C_DoubleWord(const char* s, double* value, char* word);
int sscanf_C_RelationWord(const char* s, char* op, char* word);
int sscanf_C_UnsignedSpace(const char* s, unsigned* value);
int sscanf_C_FourFloats(const char* s, float* a, float* b, float* c, float* d);
int sscanf_C_FourInts(const char* s, int* a, int* b, int* c, int* d);
int sscanf_C_DoubleChar(const char* s, double* value, char* c);
int sscanf_C_WordCount(const char* s, char* word, int* consumed);
int sscanf_C_Word(const char* s, char* word);
// The caller's format with one to five result pointers.
int sscanf_C(const char* s, const char* format, ...);

int sprintf_C(char* destination, const char* format, ...) __attribute__((format(printf, 2, 3)));
int fprintf_C(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int vfprintf_C(FILE* stream, const char* format, va_list args);
// Formats at most len-1 characters and always terminates; -1 when the text was cut.
int vsnprintf_C(char* buffer, size_t len, const char* format, va_list args);
// Bounded formatting in the "C" locale (the same rule as vsnprintf_C).
int snprintf_C(char* buffer, size_t len, const char* format, ...) __attribute__((format(printf, 3, 4)));

} // extern "C"
