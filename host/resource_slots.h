// Leak detection that works under Wine, whose process handle and GDI object counts read 0.
// Wine hands a new object the lowest free slot, so the slot a new object gets stays the same
// from one look to the next unless something is holding more objects than before.
#pragma once

unsigned long long nextEventSlot(); // the value a newly created event handle gets
unsigned nextGdiSlot();             // the low 16 bits of a newly created GDI object
