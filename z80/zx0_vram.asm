; ZX0 (version 2) unpacker straight into TMS9918 video memory.
;
; In:  HL = the packed stream, DE = the video memory address to unpack to.
; Out: HL = the byte after the stream, DE = the address after the data.
; Uses AF, AF', BC and three bytes of RAM: zx0_bits (the bit buffer) and
; zx0_last (the last offset, a word). The including file defines them and
; the chip's ports vdp_data and vdp_control ($98 and $99 on MSX, $BE and $BF
; on ColecoVision and SG-1000). Call it with interrupts off: an interrupt
; handler that reads the status register would break an address being set.
;
; Copies read earlier output back from video memory, byte by byte: set the
; read address, wait, read, set the write address, write. The chip needs
; time between video memory accesses (about 2 us with the display off, up
; to 8 us during active display); every access here is at least 40 clock
; cycles (11 us at 3.58 MHz) after the one before, and the read waits 40
; more cycles after its address is set.

zx0_vram:
        ld      a,$80                   ; an empty buffer: only the end mark
        ld      (zx0_bits),a
        ld      bc,1
        ld      (zx0_last),bc
zx0_literals:
        call    zx0_gamma
        call    zx0_set_write
zx0_literal_byte:
        ld      a,(hl)
        out     (vdp_data),a
        inc     hl
        inc     de
        dec     bc
        ld      a,b
        or      c
        jr      nz,zx0_literal_byte
        call    zx0_bit
        jr      c,zx0_new_offset
        call    zx0_gamma               ; a copy with the last offset
        call    zx0_copy
        call    zx0_bit
        jr      nc,zx0_literals
zx0_new_offset:
        call    zx0_gamma_inverted      ; BC = m
        ld      a,b
        or      a
        ret     nz                      ; m = 256 ends the stream
        ld      b,c                     ; offset = 128 m - (next byte >> 1)
        ld      c,0
        srl     b
        rr      c
        ld      a,(hl)
        inc     hl
        push    hl
        push    af                      ; its low bit opens the length
        srl     a
        ld      l,a
        ld      h,0
        push    bc
        ex      (sp),hl
        pop     bc
        or      a
        sbc     hl,bc
        ld      (zx0_last),hl
        pop     af
        pop     hl
        rra
        call    zx0_gamma_carry         ; length - 1
        inc     bc
        call    zx0_copy
        call    zx0_bit
        jr      c,zx0_new_offset
        jr      zx0_literals

; BC = an interlaced Elias gamma value; zx0_gamma_carry takes its first
; bit from the carry flag instead of the stream.
zx0_gamma:
        ld      bc,1
zx0_gamma_flag:
        call    zx0_bit
zx0_gamma_test:
        ret     c
        call    zx0_bit
        rl      c
        rl      b
        jr      zx0_gamma_flag
zx0_gamma_carry:
        ld      bc,1
        jr      zx0_gamma_test

; The same with its data bits inverted (the offset's high part).
zx0_gamma_inverted:
        ld      bc,1
zx0_inverted_flag:
        call    zx0_bit
        ret     c
        call    zx0_bit
        ccf
        rl      c
        rl      b
        jr      zx0_inverted_flag

; Carry = the next flag bit. The buffer holds the unread bits above a 1
; that marks its end; when only the mark is left the next stream byte
; comes in, the mark (the carry) shifted in behind it.
zx0_bit:
        ld      a,(zx0_bits)
        add     a,a
        jr      nz,zx0_bit_kept
        ld      a,(hl)
        inc     hl
        rla
zx0_bit_kept:
        ld      (zx0_bits),a
        ret

; BC bytes from DE - (zx0_last) to DE, through video memory; DE moves on.
zx0_copy:
        push    hl
        ld      hl,(zx0_last)
        ex      de,hl
        push    hl
        or      a
        sbc     hl,de
        pop     de                      ; HL = source, DE = destination
zx0_copy_byte:
        ld      a,l
        out     (vdp_control),a
        ld      a,h
        and     $3f
        out     (vdp_control),a         ; read from HL
        ex      (sp),hl                 ; wait for the chip to fetch it
        ex      (sp),hl
        in      a,(vdp_data)
        ex      af,af'
        ld      a,e
        out     (vdp_control),a
        ld      a,d
        or      $40
        out     (vdp_control),a         ; write to DE
        ex      af,af'
        out     (vdp_data),a
        inc     hl
        inc     de
        dec     bc
        ld      a,b
        or      c
        jr      nz,zx0_copy_byte
        pop     hl
        ret

; Sets the chip to write at DE.
zx0_set_write:
        ld      a,e
        out     (vdp_control),a
        ld      a,d
        or      $40
        out     (vdp_control),a
        ret
