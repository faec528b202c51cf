#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// The fleet view: one JSON object per line for each router event, for monitoring to read.
// Every object has "time" (seconds since 1970, to the millisecond), "event" and "router"
// (HH:HH:HH:HH:HH:HH); README lists the events and their fields. The objects are flat, with
// string, number and boolean values only, so a writer of a dozen lines does; no JSON library of
// the distribution is worth a dependency for that.

// One field: its name and its value already written as JSON (JsonText, JsonNumber, JsonBool).
using EventField = std::pair<const char*, std::string>;

// The text as a JSON string, quoted, with quotes, backslashes and control characters escaped
// and bytes from 0x80 up shown as "?" (router texts are not trusted to be UTF-8).
std::string JsonText(const std::string& text);
std::string JsonNumber(double value);
std::string JsonNumber(unsigned long long value);
std::string JsonBool(bool value);

// Writes one event line to `out` and flushes it; nothing when out is null.
void WriteEvent(FILE* out, const char* event, const std::string& router,
                const std::vector<EventField>& fields);
