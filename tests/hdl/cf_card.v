`timescale 1ns/100ps
// cf_card: a behavioural CompactFlash 4.1 card in True IDE mode, device 0.
//
// What it models, and the timing it follows (cf_timing.vh):
// - The task file (ATA register map: CS0- block DATA .. STATUS/COMMAND, CS1-
//   block ALT STATUS/DEVICE CONTROL and DRIVE ADDRESS), hardware reset and
//   SRST, INTRQ (cleared by a STATUS read, masked by nIEN), DASP-.
// - PIO reads: the card drives DD only late in the pulse, t2 - t5 after
//   DIOR- falls (the latest a compliant card may: data is valid t5 before
//   the host's negation), the 8-bit registers on DD7:0 only (DRIVE ADDRESS
//   leaves DD7 to the host's pull-down), holds it t6 after the negation and
//   releases DD. Whatever the register holds at that moment is what it
//   drives: a STATUS read can start busy and return ready.
// - IORDY wait states on some PIO cycles (every 29th): IORDY negated in the
//   very time step the strobe falls, or 12 ns later (inside tA), released
//   150 ns after the pulse would have ended; read data comes t5 before.
// - Multiword DMA: DMARQ per burst; read data driven tD - tG into each
//   pulse, held tF; DMARQ negated at the fall of a burst's last strobe,
//   in the same time step on every other burst and tL/2 later on the rest.
//   Bursts end at word 100 of each sector and at each sector's end.
// - Ultra DMA (ATA/ATAPI-7 burst protocol): data-in bursts with DSTROBE
//   driven high after DMACK-, the first word tDZFS before the first (falling)
//   DSTROBE edge, a card pause (word 400), card termination at each sector
//   end, host pauses and terminations obeyed after ud_react (the fast modes
//   put out one more word), DSTROBE returned high without data, the host's
//   CRC checked at DMACK- negation (ICRC on a mismatch). Data-out bursts:
//   DDMARDY- asserted after STOP is negated, a card pause (DDMARDY- negated
//   at word 150), card termination at each sector end (DDMARDY- negated,
//   DMARQ negated tRP later), host termination obeyed.
// - Commands: IDENTIFY DEVICE (256 words, CF signature, checksum), READ /
//   WRITE SECTORS (one DRQ block per sector), READ / WRITE DMA, SET FEATURES
//   (03h transfer modes PIO0-4, MW0-2, UDMA0-5; others abort).
module cf_card #(parameter integer SECTORS = 1024) (
    inout  wire [15:0] tide_dd,
    input  wire [2:0]  tide_da,
    input  wire        tide_cs0_n,
    input  wire        tide_cs1_n,
    input  wire        tide_dior_n,
    input  wire        tide_diow_n,
    input  wire        tide_dmack_n,
    inout  wire        tide_iordy,
    output reg         tide_dmarq,
    output wire        tide_intrq,
    output wire        tide_dasp_n,
    input  wire        tide_reset_n
);
    `include "cf_timing.vh"

    localparam [7:0] ST_BSY = 8'h80, ST_DRDY = 8'h40, ST_DSC = 8'h10, ST_DRQ = 8'h08, ST_ERR = 8'h01;
    localparam [7:0] ER_ICRC = 8'h80, ER_ABRT = 8'h04;

    // ---- pins -----------------------------------------------------------------
    reg [15:0] dd_drive = 16'bz;
    reg        iordy_drive = 1'bz;
    reg        intrq_q = 1'b0;
    assign tide_dd = dd_drive;
    assign tide_iordy = iordy_drive;

    // ---- task file ------------------------------------------------------------
    reg [7:0] r_error = 8'h01, r_features = 0, r_count = 1, r_sector = 1, r_cyl_lo = 0, r_cyl_hi = 0,
              r_head = 0, r_status = ST_BSY, r_devctl = 8'h00, r_command = 0;
    reg       srst_held = 0;
    assign tide_intrq = r_devctl[1] ? 1'bz : intrq_q;
    assign tide_dasp_n = r_status[7] ? 1'b0 : 1'bz;

    integer pio_mode = 0, mw_mode = -1, udma_mode = -1;
    reg     ultra = 0;  // READ/WRITE DMA run as Ultra DMA bursts

    // ---- storage and the current command's data -------------------------------
    reg [15:0] media [0:SECTORS * 256 - 1];
    reg        media_written [0:SECTORS - 1];
    reg [15:0] xfer [0:4 * 256 - 1];
    integer    pio_ptr = 0, pio_end = 0;
    event      command_written, pio_block_done, status_read, srst_released;

    integer i_init;
    initial for (i_init = 0; i_init < SECTORS; i_init = i_init + 1) media_written[i_init] = 0;

    // Contents of a sector nobody wrote: varied, with all-ones and all-zero words.
    function automatic [15:0] factory_word(input integer lba, input integer i);
        reg [15:0] w;
        w = {lba[7:0] ^ i[7:0], i[7:0] * 8'd37 + lba[7:0] + 8'd11};
        if (i % 97 == 5) w = 16'hFFFF;
        if (i % 97 == 6) w = 16'h0000;
        return w;
    endfunction

    function automatic integer current_lba();
        return {r_head[3:0], r_cyl_hi, r_cyl_lo, r_sector};
    endfunction

    function automatic integer sector_count();
        return r_count == 0 ? 256 : r_count;
    endfunction

    task automatic load_sectors(input integer lba, input integer n);
        integer s, i;
        for (s = 0; s < n; s = s + 1)
            for (i = 0; i < 256; i = i + 1)
                xfer[s * 256 + i] = media_written[lba + s] ? media[(lba + s) * 256 + i] : factory_word(lba + s, i);
    endtask

    task automatic store_sector(input integer lba, input integer from);
        integer i;
        for (i = 0; i < 256; i = i + 1) media[lba * 256 + i] = xfer[from + i];
        media_written[lba] = 1;
    endtask

    // ---- reset ----------------------------------------------------------------
    task automatic signature;
        r_error = 8'h01; r_count = 1; r_sector = 1; r_cyl_lo = 0; r_cyl_hi = 0; r_head = 0;
        r_status = ST_DRDY | ST_DSC;
    endtask

    always @(negedge tide_reset_n) begin
        r_status = ST_BSY;
        pio_mode = 0; mw_mode = -1; udma_mode = -1; ultra = 0;
    end
    always @(posedge tide_reset_n) begin
        #(3000);
        signature();
    end
    always @(srst_released) begin
        #(2000);
        signature();
    end

    // ---- PIO register and data cycles ----------------------------------------
    integer pio_cycles = 0;

    // Which cycles the card stretches with IORDY: 0 none, 1 IORDY negated in
    // the strobe's own time step, 2 negated 12 ns after it.
    function automatic integer wait_state_kind();
        pio_cycles = pio_cycles + 1;
        if (pio_mode > 4) return 0;  // no IORDY in PIO5/6
        case (pio_cycles % 29)
            3: return 1;
            17: return 2;
            default: return 0;
        endcase
    endfunction

    function automatic [15:0] register_value(input [3:0] sel);
        case (sel)
            4'h0: return xfer[pio_ptr];
            4'h1: return {8'h00, r_error};
            4'h2: return {8'h00, r_count};
            4'h3: return {8'h00, r_sector};
            4'h4: return {8'h00, r_cyl_lo};
            4'h5: return {8'h00, r_cyl_hi};
            4'h6: return {8'h00, r_head};
            4'h7, 4'hE: return {8'h00, r_status};
            // -WTG high, -HS3..0, -nDS1 high, -nDS0 low: device 0 selected
            4'hF: return {8'h00, 1'b0, 1'b1, ~r_head[3:0], 1'b1, 1'b0};
            default: return 16'h0000;
        endcase
    endfunction

    task automatic drive_register(input [3:0] sel, input [15:0] value);
        if (sel == 4'h0) dd_drive = value;
        else if (sel == 4'hF) dd_drive = {8'bz, 1'bz, value[6:0]};  // DD7 is not the card's
        else dd_drive = {8'bz, value[7:0]};
    endtask

    // Stretch the pulse that fell at `fall`: IORDY low until `release_at`.
    task automatic hold_iordy(input integer kind, input real fall, input real release_at);
        if (kind == 2) wait_until(fall + 12);
        iordy_drive = 1'b0;
        wait_until(release_at);
        iordy_drive = 1'b1;
        #(3);
        iordy_drive = 1'bz;
    endtask

    always @(negedge tide_dior_n) if (tide_dmack_n === 1'b1 && (tide_cs0_n === 1'b0 || tide_cs1_n === 1'b0)) begin : pio_read
        reg [3:0] sel;
        real fall, t2, release_at;
        integer kind;
        fall = $realtime;
        sel = {tide_cs0_n, tide_da};
        t2 = sel == 4'h0 ? pio_t2(pio_mode) : pio_t2_reg(pio_mode);
        if (sel == 4'h7) begin
            intrq_q = 0;
            -> status_read;
        end
        kind = wait_state_kind();
        if (kind != 0) begin
            release_at = fall + t2 + 150;
            if (kind == 2) wait_until(fall + 12);
            iordy_drive = 1'b0;
            wait_until(release_at - pio_t5(pio_mode));
            drive_register(sel, register_value(sel));
            wait_until(release_at);
            iordy_drive = 1'b1;
            #(3);
            iordy_drive = 1'bz;
        end else begin
            wait_until(fall + t2 - pio_t5(pio_mode));
            drive_register(sel, register_value(sel));
        end
        wait (tide_dior_n === 1'b1);
        #(pio_t6(pio_mode));
        dd_drive = 16'bz;
        if (sel == 4'h0 && pio_ptr < pio_end) begin
            pio_ptr = pio_ptr + 1;
            if (pio_ptr == pio_end) begin
                r_status = r_status & ~ST_DRQ;
                -> pio_block_done;
            end
        end
    end

    always @(negedge tide_diow_n) if (tide_dmack_n === 1'b1 && (tide_cs0_n === 1'b0 || tide_cs1_n === 1'b0)) begin : pio_write
        reg [3:0] sel;
        real fall, t2;
        integer kind;
        fall = $realtime;
        sel = {tide_cs0_n, tide_da};
        t2 = sel == 4'h0 ? pio_t2(pio_mode) : pio_t2_reg(pio_mode);
        kind = wait_state_kind();
        if (kind != 0) hold_iordy(kind, fall, fall + t2 + 150);
        wait (tide_diow_n === 1'b1);  // the card latches at the negation
        register_write(sel, tide_dd);
    end

    task automatic register_write(input [3:0] sel, input [15:0] value);
        case (sel)
            4'h0: if (pio_ptr < pio_end) begin
                xfer[pio_ptr] = value;
                pio_ptr = pio_ptr + 1;
                if (pio_ptr == pio_end) begin
                    r_status = r_status & ~ST_DRQ;
                    -> pio_block_done;
                end
            end
            4'h1: r_features = value[7:0];
            4'h2: r_count = value[7:0];
            4'h3: r_sector = value[7:0];
            4'h4: r_cyl_lo = value[7:0];
            4'h5: r_cyl_hi = value[7:0];
            4'h6: r_head = value[7:0];
            4'h7: begin
                r_command = value[7:0];
                r_status = ST_BSY;
                intrq_q = 0;
                -> command_written;
            end
            4'hE: begin
                r_devctl = value[7:0];
                if (value[2] && !srst_held) begin
                    srst_held = 1;
                    r_status = ST_BSY;
                end else if (!value[2] && srst_held) begin
                    srst_held = 0;
                    -> srst_released;
                end
            end
            default: ;
        endcase
    endtask

    // ---- commands -------------------------------------------------------------
    task automatic complete(input [7:0] error);
        r_error = error;
        r_status = ST_DRDY | ST_DSC | (error != 0 ? ST_ERR : 8'h00);
        intrq_q = 1;
    endtask

    task automatic data_block(input integer words, input bit interrupt);
        pio_ptr = 0;
        pio_end = words;
        r_status = ST_DRDY | ST_DSC | ST_DRQ;
        if (interrupt) intrq_q = 1;
    endtask

    always @(command_written) begin : engine
        case (r_command)
            8'hEC: identify_device();
            8'h20, 8'h21: read_sectors();
            8'h30, 8'h31: write_sectors();
            8'hC8, 8'hC9: read_dma();
            8'hCA, 8'hCB: write_dma();
            8'hEF: set_features();
            default: begin
                #(1000);
                complete(ER_ABRT);
            end
        endcase
    end

    // The card finishes while the host's next STATUS read is in its pulse.
    task automatic set_features;
        reg ok;
        reg [4:0] family;
        reg [2:0] n;
        #(1500);
        ok = 1;
        family = r_count[7:3];
        n = r_count[2:0];
        if (r_features == 8'h03) begin
            if (r_count == 8'h00 || r_count == 8'h01) pio_mode = 0;
            else if (family == 5'b00001 && n <= 4) pio_mode = n;
            else if (family == 5'b00100 && n <= 2) begin mw_mode = n; udma_mode = -1; ultra = 0; end
            else if (family == 5'b01000 && n <= 5) begin udma_mode = n; mw_mode = -1; ultra = 1; end
            else ok = 0;
        end else if (r_features != 8'h02 && r_features != 8'h82 && r_features != 8'h55 && r_features != 8'hAA) begin
            ok = 0;
        end
        @(status_read);
        #(20);
        complete(ok ? 8'h00 : ER_ABRT);
    endtask

    task automatic identify_device;
        integer i;
        reg [7:0] sum;
        #(3000);
        for (i = 0; i < 256; i = i + 1) xfer[i] = 16'h0000;
        xfer[0] = 16'h848A;                    // CF signature
        xfer[1] = SECTORS / 64;                // cylinders, 2 heads, 32 sectors per track
        xfer[3] = 2;
        xfer[6] = 32;
        xfer[7] = SECTORS >> 16;               // sectors per card, high word first
        xfer[8] = SECTORS & 16'hFFFF;
        put_string(10, 10, "HDL00000042", 1);   // serial, right-justified
        xfer[22] = 4;
        put_string(23, 4, "TB 1.0", 0);
        put_string(27, 20, "FLASHDECODE HDL TESTBENCH CARD", 0);
        xfer[47] = 16'h8001;
        xfer[49] = 16'h0B00;                   // IORDY, LBA, DMA
        xfer[51] = 16'h0200;
        xfer[53] = 16'h0007;
        xfer[54] = SECTORS / 64;
        xfer[55] = 2;
        xfer[56] = 32;
        xfer[57] = SECTORS & 16'hFFFF;
        xfer[58] = SECTORS >> 16;
        xfer[59] = 16'h0100;
        xfer[60] = SECTORS & 16'hFFFF;
        xfer[61] = SECTORS >> 16;
        xfer[63] = 16'h0007 | (!ultra && mw_mode >= 0 ? 16'h0100 << mw_mode : 16'h0000);
        xfer[64] = 16'h0003;
        xfer[65] = 120;
        xfer[66] = 120;
        xfer[67] = 120;
        xfer[68] = 120;
        xfer[82] = 16'h4000;
        xfer[83] = 16'h5004;                   // valid, FLUSH CACHE, CFA feature set
        xfer[84] = 16'h4000;
        xfer[85] = 16'h4000;
        xfer[86] = 16'h1004;
        xfer[87] = 16'h4000;
        xfer[88] = 16'h003F | (ultra ? 16'h0100 << udma_mode : 16'h0000);
        sum = 8'hA5;
        for (i = 0; i < 255; i = i + 1) sum = sum + xfer[i][7:0] + xfer[i][15:8];
        xfer[255] = {8'h00 - sum, 8'hA5};
        data_block(256, 1);
        @(pio_block_done);
        r_status = ST_DRDY | ST_DSC;
    endtask

    // ATA strings: two characters a word, the first in bits 15:8.
    task automatic put_string(input integer word, input integer words, input string text, input bit right);
        integer i, k, pad;
        reg [7:0] c[0:1];
        pad = right ? words * 2 - text.len() : 0;
        for (i = 0; i < words; i = i + 1) begin
            for (k = 0; k < 2; k = k + 1) begin
                c[k] = 8'h20;
                if (2 * i + k - pad >= 0 && 2 * i + k - pad < text.len()) c[k] = text[2 * i + k - pad];
            end
            xfer[word + i] = {c[0], c[1]};
        end
    endtask

    task automatic read_sectors;
        integer lba, n, s;
        lba = current_lba();
        n = sector_count();
        for (s = 0; s < n; s = s + 1) begin
            r_status = ST_BSY;
            #(1500);
            load_sectors(lba + s, 1);
            data_block(256, 1);
            @(pio_block_done);
        end
        r_status = ST_DRDY | ST_DSC;
    endtask

    task automatic write_sectors;
        integer lba, n, s;
        lba = current_lba();
        n = sector_count();
        #(500);
        data_block(256, 0);  // the first block is asked for without an interrupt
        for (s = 0; s < n; s = s + 1) begin
            @(pio_block_done);
            r_status = ST_BSY;
            #(1500);
            store_sector(lba + s, 0);
            if (s + 1 < n) data_block(256, 1);
        end
        complete(8'h00);
    endtask

    reg crc_failed = 0;

    task automatic read_dma;
        integer lba, n;
        lba = current_lba();
        n = sector_count();
        if (mw_mode < 0 && udma_mode < 0) begin
            #(1000);
            complete(ER_ABRT);
        end else begin
            #(1000);
            r_status = ST_DRDY | ST_DSC | ST_DRQ;
            load_sectors(lba, n);
            crc_failed = 0;
            if (ultra) udma_send(n * 256);
            else mw_transfer(1, n * 256);
            complete(crc_failed ? ER_ICRC | ER_ABRT : 8'h00);
        end
    endtask

    task automatic write_dma;
        integer lba, n, s;
        lba = current_lba();
        n = sector_count();
        if (mw_mode < 0 && udma_mode < 0) begin
            #(1000);
            complete(ER_ABRT);
        end else begin
            #(1000);
            r_status = ST_DRDY | ST_DSC | ST_DRQ;
            crc_failed = 0;
            if (ultra) udma_receive(n * 256);
            else mw_transfer(0, n * 256);
            if (!crc_failed) for (s = 0; s < n; s = s + 1) store_sector(lba + s, s * 256);
            complete(crc_failed ? ER_ICRC | ER_ABRT : 8'h00);
        end
    endtask

    // ---- multiword DMA --------------------------------------------------------
    reg     mw_on = 0, mw_in = 0;
    integer mw_idx = 0, mw_burst_end = 0, mw_bursts = 0;

    // DMARQ goes with the fall of a burst's last strobe: in that very time
    // step on even bursts, tL/2 later on odd ones.
    task automatic end_burst_at(input real fall, input real t_l);
        if (mw_bursts % 2 == 1) wait_until(fall + t_l / 2);
        tide_dmarq = 0;
    endtask

    always @(negedge tide_dior_n) if (mw_on && mw_in && tide_dmack_n === 1'b0) begin : mw_read
        real fall;
        fall = $realtime;
        if (mw_idx + 1 == mw_burst_end) end_burst_at(fall, mw_tLR(mw_mode));
        wait_until(fall + mw_tD(mw_mode) - mw_tG(mw_mode));
        dd_drive = xfer[mw_idx];
        wait (tide_dior_n === 1'b1);
        #(mw_tF(mw_mode));
        dd_drive = 16'bz;
        mw_idx = mw_idx + 1;
    end

    always @(negedge tide_diow_n) if (mw_on && !mw_in && tide_dmack_n === 1'b0) begin : mw_write
        real fall;
        fall = $realtime;
        if (mw_idx + 1 == mw_burst_end) end_burst_at(fall, mw_tLW(mw_mode));
        wait (tide_diow_n === 1'b1);
        xfer[mw_idx] = tide_dd;
        mw_idx = mw_idx + 1;
    end

    task automatic mw_transfer(input bit dir_in, input integer total);
        integer in_sector;
        mw_in = dir_in;
        mw_idx = 0;
        mw_bursts = 0;
        mw_on = 1;
        while (mw_idx < total) begin
            in_sector = mw_idx % 256;
            mw_burst_end = mw_idx - in_sector + (in_sector < 100 ? 100 : 256);
            if (mw_burst_end > total) mw_burst_end = total;
            tide_dmarq = 1;
            wait (mw_idx == mw_burst_end);
            wait (tide_dmack_n === 1'b1);
            mw_bursts = mw_bursts + 1;
            if (mw_idx < total) #(400);
        end
        mw_on = 0;
    endtask

    // ---- Ultra DMA ------------------------------------------------------------
    integer    u_idx = 0, u_pause_at = -1;
    reg        u_paused = 0, u_rx_on = 0;
    reg [15:0] burst_crc = 0, host_crc = 0;
    real       t_hdmardy_negated = 0, t_stop_asserted = 0;
    event      u_word;

    always @(posedge tide_dior_n) t_hdmardy_negated = $realtime;
    always @(posedge tide_diow_n) t_stop_asserted = $realtime;

    // The host's CRC word, on DD as DMACK- is negated.
    task automatic check_crc;
        wait (tide_dmack_n === 1'b1);
        host_crc = tide_dd;
        if (host_crc !== burst_crc) begin
            crc_failed = 1;
            $display("cf_card: CRC %h from the host, %h computed, burst ending at word %0d", host_crc, burst_crc, u_idx);
        end
        #(5);
        iordy_drive = 1'bz;  // within tIORDYZ
    endtask

    task automatic udma_send(input integer total);
        u_idx = 0;
        u_paused = 0;
        u_pause_at = total > 400 ? 400 : -1;
        while (u_idx < total) begin
            udma_send_burst(total);
            if (u_idx < total) #(300);
        end
    endtask

    task automatic udma_send_burst(input integer total);
        integer m, end_at;
        real react, t_dd, t_edge, next_edge;
        reg strobe_level, running, by_host;
        m = udma_mode;
        react = ud_react(m);
        end_at = (u_idx / 256 + 1) * 256;
        if (end_at > total) end_at = total;
        tide_dmarq = 1;
        wait (tide_dmack_n === 1'b0);
        iordy_drive = 1'b1;  // DSTROBE, high until the first word
        wait (tide_diow_n === 1'b0 && tide_dior_n === 1'b0);  // STOP negated, HDMARDY- asserted
        #(5);
        dd_drive = xfer[u_idx];
        t_dd = $realtime;
        next_edge = t_dd + ud_tDZFS(m);
        t_edge = next_edge;
        burst_crc = UDMA_CRC_SEED;
        strobe_level = 1;
        running = 1;
        by_host = 0;
        while (running) begin
            wait_until(next_edge);
            if (tide_diow_n === 1'b1 && $realtime - t_stop_asserted >= react) begin
                by_host = 1;
                running = 0;
            end else if (tide_dior_n === 1'b1 && $realtime - t_hdmardy_negated >= react) begin
                // Paused by the host: HDMARDY- asserted again resumes, STOP ends the burst.
                wait (tide_dior_n === 1'b0 || tide_diow_n === 1'b1);
                if (tide_diow_n === 1'b1) begin
                    by_host = 1;
                    running = 0;
                end else begin
                    next_edge = $realtime + 10;
                end
            end else if (u_idx == end_at) begin
                running = 0;
            end else if (u_idx == u_pause_at && !u_paused) begin
                u_paused = 1;
                next_edge = next_edge + 200;
            end else begin
                strobe_level = !strobe_level;
                iordy_drive = strobe_level;
                t_edge = $realtime;
                burst_crc = udma_crc(burst_crc, xfer[u_idx]);
                u_idx = u_idx + 1;
                #(ud_tDVH(m));
                if (u_idx < total) dd_drive = xfer[u_idx];
                next_edge = t_edge + ud_cycle(m);
            end
        end
        if (!by_host) wait_until(t_edge + ud_tSS(m));
        else #(10);
        tide_dmarq = 0;
        #(5);
        dd_drive = 16'bz;  // within tAZ of DMARQ
        wait (tide_diow_n === 1'b1);  // STOP: the host's, or its answer within tLI
        if (!strobe_level) begin
            #(5);
            strobe_level = 1;
            iordy_drive = 1'b1;  // DSTROBE back high, no data with it
        end
        check_crc();
    endtask

    // Data-out words ride both HSTROBE edges while STOP is negated.
    always @(tide_dior_n) if (u_rx_on && tide_dmack_n === 1'b0 && tide_diow_n === 1'b0) begin
        xfer[u_idx] = tide_dd;
        burst_crc = udma_crc(burst_crc, tide_dd);
        u_idx = u_idx + 1;
        -> u_word;
    end

    task automatic udma_receive(input integer total);
        u_idx = 0;
        u_paused = 0;
        u_pause_at = 150;
        while (u_idx < total) begin
            udma_receive_burst(total);
            if (u_idx < total) #(300);
        end
    endtask

    task automatic udma_receive_burst(input integer total);
        integer m, end_at;
        reg running, by_host;
        m = udma_mode;
        // The card's buffer holds one sector: it ends the burst at each
        // sector's end; the last one the host ends.
        end_at = (u_idx / 256 + 1) * 256;
        if (end_at >= total) end_at = -1;
        tide_dmarq = 1;
        wait (tide_dmack_n === 1'b0);
        iordy_drive = 1'b1;  // DDMARDY-, negated
        burst_crc = UDMA_CRC_SEED;
        u_rx_on = 1;
        wait (tide_diow_n === 1'b0);  // STOP negated
        #(20);
        iordy_drive = 1'b0;  // DDMARDY- asserted
        running = 1;
        by_host = 0;
        while (running) begin
            @(u_word or posedge tide_diow_n);
            if (tide_diow_n === 1'b1) begin
                by_host = 1;
                running = 0;
            end else if (u_idx == u_pause_at && !u_paused) begin
                u_paused = 1;
                #(5);
                iordy_drive = 1'b1;
                #(300);
                iordy_drive = 1'b0;
            end else if (end_at >= 0 && u_idx >= end_at) begin
                #(5);
                iordy_drive = 1'b1;  // DDMARDY- negated ...
                #(ud_tRP(m));
                tide_dmarq = 0;      // ... and DMARQ tRP later: the card ends the burst
                wait (tide_diow_n === 1'b1);
                running = 0;
            end
        end
        if (by_host) begin
            #(10);
            tide_dmarq = 0;
            #(5);
            iordy_drive = 1'b1;
        end
        wait (tide_dior_n === 1'b1);  // HSTROBE asserted again
        u_rx_on = 0;
        check_crc();
    endtask

    initial tide_dmarq = 0;
endmodule
