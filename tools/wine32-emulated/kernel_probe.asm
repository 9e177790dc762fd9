; Tells a kernel that runs 32-bit x86 programs itself from an emulator that runs them for it: it
; exits with 42 only when uname names the machine x86_64. A 64-bit kernel says x86_64 to 32-bit
; programs too, while qemu-i386 names an i386-family machine, also when binfmt_misc hands it the
; program. tools/wine-session.sh carries the assembled program in base64, made with
;   nasm -f bin -o kernel_probe kernel_probe.asm && base64 -w0 kernel_probe
; The ELF headers are written out here: a flat binary has nothing to link.
bits 32
        org     0x08048000
file:
        db      0x7f, "ELF", 1, 1, 1, 0         ; 32-bit, little-endian, System V
        times 8 db 0
        dw      2, 3                            ; an executable, for i386
        dd      1, start, program_header - file, 0, 0
        dw      program_header - file, segment_size, 1, 0, 0, 0
program_header:
        dd      1, 0, file, file                ; one loaded segment: the whole file,
        dd      file_size, file_size + 390      ; then room for uname's answer
        dd      7, 0x1000                       ; readable, writable, executable
segment_size equ $ - program_header

start:
        mov     eax, 122                        ; newuname
        mov     ebx, answer
        int     0x80
        mov     ebx, 1
        test    eax, eax
        jnz     .exit
        cmp     dword [answer + 260], "x86_"    ; the machine is the fifth field of 65 bytes
        jne     .exit
        cmp     word [answer + 264], "64"
        jne     .exit
        cmp     byte [answer + 266], 0
        jne     .exit
        mov     bl, 42
.exit:
        mov     eax, 1                          ; exit
        int     0x80
file_size equ $ - file
answer:
