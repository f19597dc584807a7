; For the emulator test: unpacks three ZX0 tables from RAM into video
; memory with the converter's Z80 unpacker, the display off meanwhile.
; The test puts the tables' addresses in the words after the jump.

vdp_data:       equ     $98
vdp_control:    equ     $99
zx0_bits:       equ     $f000
zx0_last:       equ     $f001

        org     $c000
        jr      start
pattern_at:     dw      0
colour_at:      dw      0
name_at:        dw      0
start:
        di
        ld      sp,$f300
        ld      a,$82                   ; display off
        out     (vdp_control),a
        ld      a,$81
        out     (vdp_control),a
        ld      hl,(pattern_at)
        ld      de,$0000
        call    zx0_vram
        ld      hl,(colour_at)
        ld      de,$2000
        call    zx0_vram
        ld      hl,(name_at)
        ld      de,$1800
        call    zx0_vram
        ld      a,$c2                   ; display on
        out     (vdp_control),a
        ld      a,$81
        out     (vdp_control),a
stay:
        jr      stay

        include "zx0_vram.asm"
