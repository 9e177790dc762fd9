; Stands in for PowerBasic's PB.EXE wherever the launcher's DOSBox start is tried for real.
; It shows a line on the DOS screen, proves that it ran by writing PB_RAN.TXT into the current
; folder (its own folder, which DOSBox mounts as C: when given a program path), and ends, so
; that DOSBox started with -exit closes by itself.
;
; While a file PB_HOLD.TXT is in the folder it stays running, so that the running DOSBox can be
; looked at; removing the file lets it end (after about a minute it ends anyway). PB_RAN.TXT
; tells the whole story, one line at a time:
;   "stand-in PB.EXE ran"       always
;   "holding"                   PB_HOLD.TXT was there at the start
;   "released" / "hold expired" how the hold ended
;
; Assembled as a flat binary: without an MZ header DOS loads any file as a COM image, whatever
; its name, at offset 100h of its segment.

        cpu     8086
        org     100h

HOLD_CHECKS equ 546                     ; two timer ticks apart: about a minute

start:
        mov     ah, 09h                 ; the line on the screen
        mov     dx, banner
        int     21h

        ; The hold file is looked for before the marker is written, so that whoever waits for
        ; the marker already knows whether removing the hold file is needed.
        mov     dx, hold_name
        call    file_exists
        mov     [holding], al

        mov     ah, 3Ch                 ; create or truncate the marker
        xor     cx, cx
        mov     dx, marker_name
        int     21h
        jc      failed
        mov     bx, ax
        mov     dx, ran_line
        mov     cx, ran_line_length
        call    write_or_fail
        cmp     byte [holding], 0
        je      .close_marker
        mov     dx, holding_line
        mov     cx, holding_line_length
        call    write_or_fail
.close_marker:
        call    close_or_fail           ; closed, so that the host sees every byte now
        cmp     byte [holding], 0
        je      done

        mov     si, HOLD_CHECKS
.hold:
        call    wait_two_ticks
        mov     dx, hold_name
        call    file_exists
        test    al, al
        jz      .released
        dec     si
        jnz     .hold
        mov     dx, expired_line
        mov     cx, expired_line_length
        jmp     .append
.released:
        mov     dx, released_line
        mov     cx, released_line_length
.append:
        push    cx
        push    dx
        mov     ax, 3D01h               ; open the marker for writing
        mov     dx, marker_name
        int     21h
        jc      failed
        mov     bx, ax
        mov     ax, 4202h               ; to its end
        xor     cx, cx
        xor     dx, dx
        int     21h
        jc      failed
        pop     dx
        pop     cx
        call    write_or_fail
        call    close_or_fail

done:
        mov     ax, 4C00h
        int     21h

failed:
        mov     ax, 4C01h
        int     21h

; AL = 1 when the file named at DS:DX can be opened, else 0.
file_exists:
        mov     ax, 3D00h
        int     21h
        jc      .absent
        mov     bx, ax
        mov     ah, 3Eh
        int     21h
        mov     al, 1
        ret
.absent:
        xor     al, al
        ret

; Writes CX bytes from DS:DX to handle BX, all of them or the program fails.
write_or_fail:
        mov     ah, 40h
        push    cx
        int     21h
        pop     cx
        jc      failed
        cmp     ax, cx
        jne     failed
        ret

close_or_fail:
        mov     ah, 3Eh
        int     21h
        jc      failed
        ret

; Sleeps until the BIOS tick count (18.2 a second) has moved on by two.
wait_two_ticks:
        xor     ah, ah
        int     1Ah
        mov     di, dx
.sleep:
        sti
        hlt
        xor     ah, ah
        int     1Ah
        mov     ax, dx
        sub     ax, di
        cmp     ax, 2
        jb      .sleep
        ret

banner:         db      "Stand-in PB.EXE is running.", 13, 10, "$"
hold_name:      db      "PB_HOLD.TXT", 0
marker_name:    db      "PB_RAN.TXT", 0
ran_line:       db      "stand-in PB.EXE ran", 13, 10
ran_line_length equ $ - ran_line
holding_line:   db      "holding", 13, 10
holding_line_length equ $ - holding_line
released_line:  db      "released", 13, 10
released_line_length equ $ - released_line
expired_line:   db      "hold expired", 13, 10
expired_line_length equ $ - expired_line
holding:        db      0
