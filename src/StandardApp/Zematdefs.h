// Zematdefs.h: protocol constants and result codes shared by the framing, channels and session.
#pragma once

#include <cstdint>

inline constexpr int Z_LEN_LEN = 2;
inline constexpr int Z_SOCKET_LEN = 2;
inline constexpr int Z_HEADER_LEN = Z_LEN_LEN + Z_SOCKET_LEN;
inline constexpr long Z_SOCKET_MIN = 0;
inline constexpr long Z_SOCKET_MAX = 65532;
inline constexpr long Z_NO_SOCKET = 65533;      // held by a channel that is not open; never sent
inline constexpr long Z_UNUSED_SOCKET = 65534;  // no use on the host side
inline constexpr long Z_FLOW_SOCKET_NUMBER = 65535;
inline constexpr int Z_MESSAGELENGTH_MAX = 32767;
inline constexpr int Z_REDCARD_LEN = 4;

inline constexpr int Z_BUFFER_SIZE = 4500;  // the output buffer
// m_ibuf takes many frames per receive, so that a stream costs one read per batch of frames, not
// one per frame; frames stay at most Z_FRAME_MAX bytes.
inline constexpr int Z_INPUT_BUFFER = 64 * 1024;
inline constexpr int Z_FRAME_MAX = Z_BUFFER_SIZE;                 // longest frame either way
inline constexpr int Z_PAYLOAD_MAX = Z_FRAME_MAX - Z_HEADER_LEN;  // 4496
inline constexpr int Z_READ_BUFFER = Z_FRAME_MAX + 1;             // caller buffer for Read
// A slave payload travels behind its 2-byte socket inside one "CS" frame.
inline constexpr int Z_SLAVE_PAYLOAD_MAX = Z_PAYLOAD_MAX - 2;  // 4494

inline constexpr uint8_t IN_SYNC = 2;

// Record types on the control CUs.
inline constexpr uint8_t Z_FIRST_MODULE_1 = 0x01;
inline constexpr uint8_t Z_NEXT_MODULE_1 = 0x02;
inline constexpr uint8_t Z_FIRST_CU_DESC = 4;
inline constexpr uint8_t Z_NEXT_CU_DESC = 5;
inline constexpr uint8_t Z_GOODBYE = 0x07;
inline constexpr uint8_t Z_OPEN_CU = 0x09;
inline constexpr uint8_t Z_CLOSE_CU = 0x0A;
inline constexpr uint8_t Z_END_OF_LIST = 0x0E;
inline constexpr uint8_t Z_FIRST_MODULE_2 = 0x12;
inline constexpr uint8_t Z_NEXT_MODULE_2 = 0x13;
inline constexpr uint8_t Z_OPEN_SLAVE_CU = 0x14;
inline constexpr uint8_t Z_CLOSE_SLAVE_CU = 0x15;

inline constexpr int Z_MODULES_MAX = 32;
inline constexpr int Z_CUDESCS_MAX = 16;
inline constexpr int Z_MODULE_RECORD_MAX = 36;
inline constexpr int Z_CUDESC_RECORD_MAX = 60;

// Results of channel reads, writes and waits (opens and closes return 1/0 instead).
inline constexpr int Z_OK = 0;
inline constexpr int Z_TIMEOUT = 1;
inline constexpr int Z_ABANDONED = 2;
inline constexpr int Z_ERROR = 3;

// Read credits granted to the instrument per batch, and the level that triggers the next batch.
inline constexpr int Z_READ_CREDIT_BATCH = 235;
inline constexpr int Z_READ_CREDIT_LOW = 20;
