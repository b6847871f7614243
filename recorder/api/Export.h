// Marks what the engine library exports; everything else stays hidden.
#pragma once

#define OSTREL_API __attribute__((visibility("default")))
