// Firmware for the profiling tests: a Cortex-M image whose functions the tests know.
//
// The work_* functions are written out in Thumb instructions, so that the compiler adds nothing
// and each size is exact: n two-byte nops and a two-byte return. checksum() is plain C, for the
// source lines. The comments tagged "line:" mark the lines the tests look up.
#include <stdint.h>

#define BODY(nops) ".rept " #nops "\n\tnop\n\t.endr\n\tbx lr\n"

// 128 bytes.
__attribute__((naked, noinline)) void work_heavy(void) {
    __asm volatile(BODY(63));  // line: work_heavy body
}

// 64 bytes.
__attribute__((naked, noinline)) void work_medium(void) {
    __asm volatile(BODY(31));  // line: work_medium body
}

// 32 bytes.
__attribute__((naked, noinline)) void work_light(void) {
    __asm volatile(BODY(15));  // line: work_light body
}

// 4 bytes: the core sleeps here.
__attribute__((naked, noinline)) void idle_wait(void) {
    __asm volatile("wfi\n\tbx lr\n");
}

volatile uint32_t g_ticks;
volatile uint32_t g_sum;
static uint8_t s_buffer[64];

__attribute__((noinline)) uint32_t checksum(const uint8_t* data, uint32_t size) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; ++i) {
        sum = (sum << 1 | sum >> 31) ^ data[i];  // line: checksum loop
    }
    return sum;
}

void Default_Handler(void) {
    for (;;) {
    }
}

// As startup code does: every vector not written here runs the default handler.
void NMI_Handler(void) __attribute__((weak, alias("Default_Handler")));
void HardFault_Handler(void) __attribute__((weak, alias("Default_Handler")));
void IRQ0_Handler(void) __attribute__((weak, alias("Default_Handler")));

void SysTick_Handler(void) {
    g_ticks = g_ticks + 1;
}

void Reset_Handler(void) {
    for (;;) {
        work_heavy();
        work_medium();
        work_light();
        g_sum = checksum(s_buffer, sizeof s_buffer);
        idle_wait();
    }
}

extern uint32_t _stack_top;

__attribute__((section(".vectors"), used)) const void* const g_vectors[17] = {
    &_stack_top, Reset_Handler,   NMI_Handler,  HardFault_Handler, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0,           SysTick_Handler, IRQ0_Handler,
};
