; The MSX cartridge's loader: shows the screen whose tables follow it.
; The converter writes the parameters at $4010 and the tables after the
; loader, and pads the cartridge to 16 KB.
;
; Assemble: pasmo --bin -I z80 z80/rom_loader.asm rom_loader.bin

vdp_data:       equ     $98
vdp_control:    equ     $99
zx0_bits:       equ     $e000
zx0_last:       equ     $e001

        org     $4000
        db      "AB"
        dw      start
        ds      12,0
; Filled in by the converter ($4010):
packed:         db      0               ; 1: the tables are ZX0 streams
backdrop:       db      1               ; register 7
tables:         dw      0,0,0           ; pattern: video address, source, length
                dw      0,0,0           ; colour
                dw      0,0,0           ; name

start:
        di
        ld      sp,$f380
        ld      hl,registers            ; Graphics II, display off
        ld      bc,$0780
set_register:
        ld      a,(hl)
        out     (vdp_control),a
        ld      a,c
        out     (vdp_control),a
        inc     hl
        inc     c
        djnz    set_register
        ld      a,(backdrop)
        out     (vdp_control),a
        ld      a,$87
        out     (vdp_control),a
        ld      de,0                    ; clear video memory
        call    zx0_set_write
        ld      bc,$4000
clear:
        xor     a
        out     (vdp_data),a
        dec     bc
        ld      a,b
        or      c
        jr      nz,clear
        ld      de,$1b00                ; no sprites
        call    zx0_set_write
        ld      a,$d0
        out     (vdp_data),a
        ld      ix,tables
        ld      b,3
next_table:
        push    bc
        ld      e,(ix+0)
        ld      d,(ix+1)
        ld      l,(ix+2)
        ld      h,(ix+3)
        ld      c,(ix+4)
        ld      b,(ix+5)
        ld      a,(packed)
        or      a
        jr      z,copy_table
        call    zx0_vram
        jr      table_done
copy_table:
        call    zx0_set_write
copy_byte:
        ld      a,(hl)
        out     (vdp_data),a
        inc     hl
        dec     bc
        ld      a,b
        or      c
        jr      nz,copy_byte
table_done:
        ld      de,6
        add     ix,de
        pop     bc
        djnz    next_table
        ld      a,$c2                   ; display on, interrupts still off
        out     (vdp_control),a
        ld      a,$81
        out     (vdp_control),a
stay:
        jr      stay

; Registers 0 to 6: Graphics II; 16 KB, display off, 16 x 16 sprites;
; names at $1800, colours at $2000, patterns at $0000, sprite attributes at
; $1B00, sprite patterns at $3800.
registers:
        db      $02,$82,$06,$ff,$03,$36,$07

        include "zx0_vram.asm"
