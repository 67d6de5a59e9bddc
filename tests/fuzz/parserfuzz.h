#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Runs the receive handler over a script of arrivals and events and checks
// its invariants after every event. Returns what was violated, or an empty
// text when all held.
//
// Script: the first byte picks the read length (0..3). Then every byte is a
// character arriving from the device, except two control bytes:
//   0xFD          the component raises receive events, one after another,
//                 until nothing waits (each read takes up to the read length);
//   0xFE x        an event with code x % 8 (2 is a receive event even when
//                 nothing waits); 0xFE 0xFD and 0xFE 0xFE stand for the
//                 characters 0xFD and 0xFE.
// Whatever still waits at the end is delivered as by 0xFD.
QString fuzzParser(const std::uint8_t *data, std::size_t size);
