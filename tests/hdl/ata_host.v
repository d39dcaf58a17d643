`timescale 1ns/100ps
// ata_host: a behavioural ATA host controller for one CF card in True IDE
// mode, with the tasks a driver calls (tb drives them) and its own log of
// everything that crossed the bus.
//
// What it models, and the timing it follows (cf_timing.vh):
// - PIO cycles (CF 4.1 Table 22): address t1 before the strobe, pulse t2
//   (8-bit t2 for the registers), cycle t0, recovery t2i, address hold t9.
//   IORDY is looked at tA after the strobe falls; while the card holds it
//   low the pulse is stretched. Read data is latched at the negation.
//   Write data appears, in turn, with the address, 8 ns after the strobe
//   falls, or exactly t3 before the negation; held t4.
// - Multiword DMA (Table 23): DMACK- tM before the first strobe, pulses tD,
//   cycle t0, negated tKR/tKW, DMACK- held tJ; the burst ends when the card
//   has negated DMARQ by the end of a pulse. Write data as for PIO, with tG.
// - Ultra DMA (ATA/ATAPI-7): data-in: DMACK-, STOP negated tACK later, then
//   HDMARDY- asserted; words latched at both DSTROBE edges; host pauses and
//   terminations by negating HDMARDY- (STOP tRP later); card terminations
//   answered by STOP and HDMARDY- within tLI. Data-out: the first word on DD,
//   STOP negated, the first HSTROBE edge (falling) only after DDMARDY-;
//   words tDVH after each edge; host pauses by holding HSTROBE, host
//   termination tSS after the last edge, HSTROBE returned high without data.
//   Both: the CRC (x^16 + x^12 + x^5 + 1, seed 4ABAh) driven on DD tCVS before
//   DMACK- is negated and held tCVH.
// - A driver's habits: ALT STATUS read after each COMMAND, STATUS polled
//   until BSY clears, ERROR read after ERR, INTRQ awaited for DMA commands.
//
// The log, tab-separated, one line per event, positions in VCD units:
//   cmd    N  position-of-COMMAND  opcode  protocol  mode  LBA  sectors
//          (LBA and sectors are - for a command without an address)
//   reset  N  position-of-SRST-write
//   reg    position-of-strobe-fall  R|W  register  value
//   data   position  in|out  PIO|MWDMA|UDMA  value   (PIO and multiword DMA:
//          the strobe's fall; Ultra DMA: the strobe edge that carries it)
//   crc    position-of-DMACK-negation  value
//   end    N  position-of-completing-STATUS-read  ok|error  words  status
//   done   errors-the-host-found
module ata_host #(parameter integer SECTORS = 1024) (
    inout  wire [15:0] ata_dd,
    output reg  [2:0]  ata_da,
    output reg         ata_cs0_n,
    output reg         ata_cs1_n,
    output reg         ata_dior_n,
    output reg         ata_diow_n,
    output reg         ata_dmack_n,
    output reg         ata_reset_n,
    input  wire        ata_iordy,
    input  wire        ata_dmarq,
    input  wire        ata_intrq
);
    `include "cf_timing.vh"

    localparam [3:0] R_DATA = 4'h0, R_ERROR_FEATURES = 4'h1, R_COUNT = 4'h2, R_SECTOR = 4'h3, R_CYL_LO = 4'h4,
                     R_CYL_HI = 4'h5, R_HEAD = 4'h6, R_STATUS_COMMAND = 4'h7, R_ALT_CONTROL = 4'hE,
                     R_DRIVE_ADDRESS = 4'hF;

    reg [15:0] dd_drive = 16'bz;
    assign ata_dd = dd_drive;

    integer pio_mode = 0, mw_mode = -1, udma_mode = -1;
    integer log_fd = 0, errors = 0, cmd_no = 0, cmd_words = 0;
    real    last_fall = -1.0e9, last_rise = -1.0e9;
    integer write_turn = 0;

    // What the host wrote, to check what it reads back.
    reg [15:0] shadow [0:SECTORS * 256 - 1];
    reg        shadow_valid [0:SECTORS - 1];
    reg [15:0] xfer [0:4 * 256 - 1];

    integer i_init;
    initial begin
        ata_da = 3'b000;
        ata_cs0_n = 1;
        ata_cs1_n = 1;
        ata_dior_n = 1;
        ata_diow_n = 1;
        ata_dmack_n = 1;
        ata_reset_n = 0;
        for (i_init = 0; i_init < SECTORS; i_init = i_init + 1) shadow_valid[i_init] = 0;
    end

    task automatic fail(input string what);
        errors = errors + 1;
        $display("ata_host: %0.1f ns: %s", $realtime, what);
    endtask

    task automatic open_log(input string path);
        log_fd = $fopen(path, "w");
        if (log_fd == 0) $fatal(1, "ata_host: cannot write %s", path);
        $fdisplay(log_fd, "# flashdecode HDL testbench: what the host put on and read from the bus");
        $fdisplay(log_fd, "# positions in the VCD's unit (100 ps); fields are tab-separated");
        $fdisplay(log_fd, "timescale\t100ps");
    endtask

    task automatic close_log;
        $fdisplay(log_fd, "done\t%0d", errors);
        $fclose(log_fd);
    endtask

    function automatic string register_name(input [3:0] r, input bit write);
        case (r)
            R_DATA: return "DATA";
            R_ERROR_FEATURES: return write ? "FEATURES" : "ERROR";
            R_COUNT: return "SECTOR_COUNT";
            R_SECTOR: return "SECTOR_NUMBER";
            R_CYL_LO: return "CYLINDER_LOW";
            R_CYL_HI: return "CYLINDER_HIGH";
            R_HEAD: return "DEVICE_HEAD";
            R_STATUS_COMMAND: return write ? "COMMAND" : "STATUS";
            R_ALT_CONTROL: return write ? "DEVICE_CONTROL" : "ALT_STATUS";
            R_DRIVE_ADDRESS: return "DRIVE_ADDRESS";
            default: return "?";
        endcase
    endfunction

    function automatic string mode_name(input bit dma);
        if (!dma) return $sformatf("PIO%0d", pio_mode);
        if (udma_mode >= 0) return $sformatf("UDMA%0d", udma_mode);
        if (mw_mode >= 0) return $sformatf("MWDMA%0d", mw_mode);
        return "none";
    endfunction

    // Data the host writes: varied, with all-ones, all-zero and alternating words.
    function automatic [15:0] host_word(input integer lba, input integer i);
        reg [15:0] w;
        w = {i[7:0] ^ 8'h5A ^ lba[7:0], lba[7:0] + i[7:0] * 8'd3};
        case (i % 64)
            0: w = 16'hFFFF;
            1: w = 16'h0000;
            2: w = 16'hAAAA;
            3: w = 16'h5555;
            default: ;
        endcase
        return w;
    endfunction

    task automatic fill_for_write(input integer lba, input integer n);
        integer s, i;
        for (s = 0; s < n; s = s + 1) begin
            for (i = 0; i < 256; i = i + 1) begin
                xfer[s * 256 + i] = host_word(lba + s, i);
                shadow[(lba + s) * 256 + i] = host_word(lba + s, i);
            end
            shadow_valid[lba + s] = 1;
        end
    endtask

    task automatic check_read(input integer lba, input integer n, input string how);
        integer s, i, wrong;
        for (s = 0; s < n; s = s + 1) begin
            wrong = 0;
            for (i = 0; i < 256; i = i + 1)
                if (shadow_valid[lba + s] && xfer[s * 256 + i] !== shadow[(lba + s) * 256 + i]) wrong = wrong + 1;
            if (wrong != 0) fail($sformatf("%s: %0d words of LBA %0d differ from what was written", how, wrong, lba + s));
        end
    endtask

    // ---- PIO cycles -------------------------------------------------------------
    task automatic pio_cycle(input bit write, input [3:0] r, input [15:0] wdata, output [15:0] rdata,
                             output integer at);
        real t0, t2, t3, t4, t9, fall, negate_at;
        integer turn;
        t0 = r == R_DATA ? pio_t0(pio_mode) : pio_t0_reg(pio_mode);
        t2 = r == R_DATA ? pio_t2(pio_mode) : pio_t2_reg(pio_mode);
        t3 = pio_t3(pio_mode);
        t4 = pio_t4(pio_mode);
        t9 = pio_t9(pio_mode);
        turn = write_turn % 3;
        if (write) write_turn = write_turn + 1;
        ata_cs0_n = r[3];
        ata_cs1_n = !r[3];
        ata_da = r[2:0];
        if (write && turn == 0) dd_drive = wdata;
        wait_until(max2(max2($realtime + pio_t1(pio_mode), last_fall + t0), last_rise + pio_t2i(pio_mode)));
        fall = $realtime;
        if (write) ata_diow_n = 0;
        else ata_dior_n = 0;
        negate_at = fall + t2;
        if (write && turn == 1) begin
            #(8);
            dd_drive = wdata;
        end
        wait_until(fall + pio_tA(pio_mode));
        if (ata_iordy === 1'b0) begin
            wait (ata_iordy !== 1'b0);
            #(5);  // the host's synchroniser
            negate_at = max2(negate_at, $realtime);
        end
        if (write && turn == 2) begin
            negate_at = max2(negate_at, $realtime + t3);
            wait_until(negate_at - t3);
            dd_drive = wdata;
        end
        wait_until(negate_at);
        rdata = ata_dd;
        if (write) ata_diow_n = 1;
        else ata_dior_n = 1;
        last_fall = fall;
        last_rise = $realtime;
        at = pos(fall);
        // Address held t9, write data held t4, whichever ends first first.
        if (write && t4 > t9) begin
            #(t9);
            ata_cs0_n = 1;
            ata_cs1_n = 1;
            ata_da = 0;
            wait_until(last_rise + t4);
            dd_drive = 16'bz;
        end else if (write) begin
            #(t4);
            dd_drive = 16'bz;
            wait_until(last_rise + t9);
        end else begin
            #(t9);
        end
        ata_cs0_n = 1;
        ata_cs1_n = 1;
        ata_da = 0;
    endtask

    task automatic reg_write(input [3:0] r, input [7:0] value);
        reg [15:0] unused;
        integer at;
        pio_cycle(1, r, {8'h00, value}, unused, at);
        $fdisplay(log_fd, "reg\t%0d\tW\t%s\t0x%02h", at, register_name(r, 1), value);
    endtask

    task automatic reg_read(input [3:0] r, output [7:0] value, output integer at);
        reg [15:0] w;
        pio_cycle(0, r, 16'h0000, w, at);
        value = w[7:0];
        $fdisplay(log_fd, "reg\t%0d\tR\t%s\t0x%02h", at, register_name(r, 0), value);
    endtask

    // Icarus cannot pass an array word as a task's output: the word's index
    // is given instead.
    task automatic pio_read_word(input integer index);
        reg [15:0] w;
        integer at;
        pio_cycle(0, R_DATA, 16'h0000, w, at);
        xfer[index] = w;
        $fdisplay(log_fd, "data\t%0d\tin\tPIO\t0x%04h", at, w);
        cmd_words = cmd_words + 1;
    endtask

    task automatic pio_write_word(input [15:0] w);
        reg [15:0] unused;
        integer at;
        pio_cycle(1, R_DATA, w, unused, at);
        $fdisplay(log_fd, "data\t%0d\tout\tPIO\t0x%04h", at, w);
        cmd_words = cmd_words + 1;
    endtask

    // ---- command protocol -------------------------------------------------------
    integer cmd_lba = -1, cmd_count = 0;

    task automatic task_file(input integer lba, input integer count, input [7:0] features, input bit lba_mode);
        cmd_lba = lba_mode ? lba : -1;
        cmd_count = count;
        reg_write(R_HEAD, lba_mode ? 8'hE0 | lba[27:24] : 8'hA0);
        reg_write(R_ERROR_FEATURES, features);
        reg_write(R_COUNT, count[7:0]);
        reg_write(R_SECTOR, lba[7:0]);
        reg_write(R_CYL_LO, lba[15:8]);
        reg_write(R_CYL_HI, lba[23:16]);
    endtask

    task automatic send_command(input [7:0] opcode, input string protocol, input bit dma);
        reg [7:0] alt;
        reg [15:0] unused;
        integer at;
        pio_cycle(1, R_STATUS_COMMAND, {8'h00, opcode}, unused, at);
        cmd_no = cmd_no + 1;
        cmd_words = 0;
        $fdisplay(log_fd, "reg\t%0d\tW\tCOMMAND\t0x%02h", at, opcode);
        if (cmd_lba >= 0)
            $fdisplay(log_fd, "cmd\t%0d\t%0d\t0x%02h\t%s\t%s\t%0d\t%0d", cmd_no, at, opcode, protocol, mode_name(dma),
                      cmd_lba, cmd_count);
        else
            $fdisplay(log_fd, "cmd\t%0d\t%0d\t0x%02h\t%s\t%s\t-\t-", cmd_no, at, opcode, protocol, mode_name(dma));
        cmd_lba = -1;
        reg_read(R_ALT_CONTROL, alt, at);  // the 400 ns a driver waits before STATUS means anything
    endtask

    task automatic poll_status(output [7:0] status, output integer at);
        integer polls;
        polls = 0;
        status = 8'h80;
        while (status[7] !== 1'b0) begin
            if (polls > 0) #(300);
            reg_read(R_STATUS_COMMAND, status, at);
            polls = polls + 1;
            if (polls > 1000) $fatal(1, "ata_host: the card stays busy");
        end
    endtask

    // The card's own checks (a bad CRC, a refused mode) end in ERR: a
    // command that should not fail fails the run.
    task automatic finish_command(input [7:0] status, input integer at, input bit expect_error);
        reg [7:0] error;
        integer unused;
        string verdict;
        verdict = (status & 8'h21) != 0 ? "error" : "ok";
        $fdisplay(log_fd, "end\t%0d\t%0d\t%s\t%0d\t0x%02h", cmd_no, at, verdict, cmd_words, status);
        if (status[0]) reg_read(R_ERROR_FEATURES, error, unused);
        if (status[0] != expect_error || status[7] || status[3])
            fail($sformatf("command %0d ended with status %02h error %02h", cmd_no, status, status[0] ? error : 8'h00));
    endtask

    // ---- commands a driver sends -------------------------------------------
    task automatic hardware_reset;
        reg [7:0] status;
        integer at;
        ata_reset_n = 0;
        #(2000);
        ata_reset_n = 1;
        #(1000);
        poll_status(status, at);
        reg_write(R_ALT_CONTROL, 8'h08);  // nIEN clear: the card may interrupt
    endtask

    task automatic software_reset;
        reg [7:0] status, unused;
        reg [15:0] w;
        integer at, u;
        pio_cycle(1, R_ALT_CONTROL, 16'h000C, w, at);
        $fdisplay(log_fd, "reg\t%0d\tW\tDEVICE_CONTROL\t0x0c", at);
        cmd_no = cmd_no + 1;
        cmd_words = 0;
        $fdisplay(log_fd, "reset\t%0d\t%0d", cmd_no, at);
        #(5000);
        reg_write(R_ALT_CONTROL, 8'h08);
        #(400);
        poll_status(status, at);
        finish_command(status, at, 0);
        reg_read(R_DRIVE_ADDRESS, unused, u);
    endtask

    task automatic set_transfer_mode(input [7:0] value, input bit expect_ok);
        reg [7:0] status;
        integer at;
        task_file(0, value, 8'h03, 0);
        send_command(8'hEF, "non-data", 0);
        poll_status(status, at);
        finish_command(status, at, !expect_ok);
        if (!status[0]) begin
            if (value[7:3] == 5'b00001) pio_mode = value[2:0];
            if (value[7:3] == 5'b00100) begin mw_mode = value[2:0]; udma_mode = -1; end
            if (value[7:3] == 5'b01000) begin udma_mode = value[2:0]; mw_mode = -1; end
        end
    endtask

    task automatic identify_device;
        reg [7:0] status, sum;
        integer at, i;
        reg_write(R_HEAD, 8'hA0);
        send_command(8'hEC, "PIO in", 0);
        poll_status(status, at);
        if (!status[3]) fail("IDENTIFY DEVICE: no DRQ");
        for (i = 0; i < 256; i = i + 1) pio_read_word(i);
        reg_read(R_STATUS_COMMAND, status, at);
        finish_command(status, at, 0);
        sum = 0;
        for (i = 0; i < 256; i = i + 1) sum = sum + xfer[i][7:0] + xfer[i][15:8];
        if (xfer[255][7:0] !== 8'hA5 || sum !== 8'h00) fail("IDENTIFY DEVICE: bad checksum");
        if (xfer[0] !== 16'h848A) fail("IDENTIFY DEVICE: no CF signature");
        if (!xfer[49][9] || !xfer[49][8]) fail("IDENTIFY DEVICE: no LBA or no DMA");
        if (!xfer[64][1] || !xfer[63][2] || !xfer[88][5] || !xfer[53][2]) fail("IDENTIFY DEVICE: modes missing");
    endtask

    task automatic read_sectors(input integer lba, input integer n);
        reg [7:0] status;
        integer at, s, i;
        task_file(lba, n, 8'h00, 1);
        send_command(8'h20, "PIO in", 0);
        for (s = 0; s < n; s = s + 1) begin
            poll_status(status, at);
            if (!status[3]) fail("READ SECTORS: no DRQ");
            for (i = 0; i < 256; i = i + 1) pio_read_word(s * 256 + i);
        end
        reg_read(R_STATUS_COMMAND, status, at);
        finish_command(status, at, 0);
        check_read(lba, n, "READ SECTORS");
    endtask

    task automatic write_sectors(input integer lba, input integer n);
        reg [7:0] status;
        integer at, s, i;
        fill_for_write(lba, n);
        task_file(lba, n, 8'h00, 1);
        send_command(8'h30, "PIO out", 0);
        poll_status(status, at);
        for (s = 0; s < n; s = s + 1) begin
            if (!status[3]) fail("WRITE SECTORS: no DRQ");
            for (i = 0; i < 256; i = i + 1) pio_write_word(xfer[s * 256 + i]);
            poll_status(status, at);
        end
        finish_command(status, at, 0);
    endtask

    // READ DMA / WRITE DMA, by the DMA mode in force. pause_after and
    // stop_after (words into the command, -1 none) are where the host
    // pauses and where it terminates an Ultra DMA burst of its own accord.
    task automatic read_dma(input integer lba, input integer n, input integer pause_after, input real pause_ns,
                            input integer stop_after);
        reg [7:0] status;
        integer at;
        task_file(lba, n, 8'h00, 1);
        send_command(8'hC8, udma_mode >= 0 ? "UDMA in" : "MWDMA in", 1);
        if (udma_mode >= 0) udma_in(n * 256, pause_after, pause_ns, stop_after);
        else mw_transfer(1, n * 256);
        wait (ata_intrq === 1'b1);
        reg_read(R_STATUS_COMMAND, status, at);
        finish_command(status, at, 0);
        check_read(lba, n, $sformatf("READ DMA (%s)", mode_name(1)));
    endtask

    task automatic write_dma(input integer lba, input integer n, input integer pause_after, input real pause_ns,
                             input integer stop_after);
        reg [7:0] status;
        integer at;
        fill_for_write(lba, n);
        task_file(lba, n, 8'h00, 1);
        send_command(8'hCA, udma_mode >= 0 ? "UDMA out" : "MWDMA out", 1);
        if (udma_mode >= 0) udma_out(n * 256, pause_after, pause_ns, stop_after);
        else mw_transfer(0, n * 256);
        wait (ata_intrq === 1'b1);
        reg_read(R_STATUS_COMMAND, status, at);
        finish_command(status, at, 0);
    endtask

    // ---- multiword DMA ----------------------------------------------------------
    integer mw_done = 0, mw_turn = 0;

    task automatic mw_transfer(input bit read, input integer total);
        mw_done = 0;
        while (mw_done < total) mw_burst(read, total);
    endtask

    task automatic mw_burst(input bit read, input integer total);
        real t0, tD, tG, tK, fall, rise;
        reg [15:0] w;
        reg more;
        integer turn;
        t0 = mw_t0(mw_mode);
        tD = mw_tD(mw_mode);
        tG = mw_tG(mw_mode);
        tK = read ? mw_tKR(mw_mode) : mw_tKW(mw_mode);
        wait (ata_dmarq === 1'b1);
        #(30);
        ata_dmack_n = 0;
        #(mw_tM(mw_mode));
        fall = -1.0e9;
        rise = -1.0e9;
        more = 1;
        while (more) begin
            turn = mw_turn % 3;
            if (!read) mw_turn = mw_turn + 1;
            w = xfer[mw_done];
            if (!read && turn == 0) dd_drive = w;
            wait_until(max2(max2($realtime, fall + t0), rise + tK));
            fall = $realtime;
            if (read) ata_dior_n = 0;
            else ata_diow_n = 0;
            if (!read && turn == 1) begin
                #(8);
                dd_drive = w;
            end
            if (!read && turn == 2) begin
                wait_until(fall + tD - tG);
                dd_drive = w;
            end
            wait_until(fall + tD);
            if (read) begin
                w = ata_dd;
                xfer[mw_done] = w;
                ata_dior_n = 1;
            end else begin
                ata_diow_n = 1;
            end
            rise = $realtime;
            if (read) $fdisplay(log_fd, "data\t%0d\tin\tMWDMA\t0x%04h", pos(fall), w);
            else $fdisplay(log_fd, "data\t%0d\tout\tMWDMA\t0x%04h", pos(fall), w);
            mw_done = mw_done + 1;
            cmd_words = cmd_words + 1;
            if (!read) begin
                #(mw_tH(mw_mode));
                dd_drive = 16'bz;
            end
            // A card that wants the burst to end has negated DMARQ within tL
            // of this pulse's start, long before now.
            more = mw_done < total && ata_dmarq === 1'b1;
        end
        wait_until(rise + mw_tJ(mw_mode));
        ata_dmack_n = 1;
    endtask

    // ---- Ultra DMA --------------------------------------------------------------
    reg        rx_on = 0;
    reg [15:0] rx_crc = 0;
    integer    rx_count = 0;
    reg        pause_done = 0, stop_done = 0;
    real       t_ddmardy_negated = 0;
    event      rx_word;

    // Data-in words ride both DSTROBE edges while STOP is negated.
    always @(ata_iordy) if (rx_on && ata_dmack_n === 1'b0 && ata_diow_n === 1'b0) begin
        xfer[rx_count] = ata_dd;
        rx_crc = udma_crc(rx_crc, ata_dd);
        $fdisplay(log_fd, "data\t%0d\tin\tUDMA\t0x%04h", pos($realtime), ata_dd);
        rx_count = rx_count + 1;
        cmd_words = cmd_words + 1;
        -> rx_word;
    end

    always @(posedge ata_iordy) t_ddmardy_negated = $realtime;

    task automatic end_burst_with_crc(input [15:0] crc, input real t_handshake, input integer m);
        real t_crc;
        dd_drive = crc;
        t_crc = $realtime;
        wait_until(max2(t_crc + ud_tCVS(m), t_handshake + ud_tMLI(m)));
        ata_dmack_n = 1;
        $fdisplay(log_fd, "crc\t%0d\t0x%04h", pos($realtime), crc);
        #(ud_tCVH(m));
        dd_drive = 16'bz;
    endtask

    task automatic udma_in(input integer total, input integer pause_after, input real pause_ns,
                           input integer stop_after);
        rx_count = 0;
        pause_done = 0;
        stop_done = 0;
        while (rx_count < total) udma_in_burst(pause_after, pause_ns, stop_after);
    endtask

    task automatic udma_in_burst(input integer pause_after, input real pause_ns, input integer stop_after);
        integer m;
        reg running, by_host;
        real t_handshake;
        m = udma_mode;
        wait (ata_dmarq === 1'b1);
        #(30);
        ata_dmack_n = 0;
        #(ud_tACK(m));
        ata_diow_n = 0;   // STOP negated ...
        #(10);
        ata_dior_n = 0;   // ... then HDMARDY- asserted, both within tENV
        rx_crc = UDMA_CRC_SEED;
        rx_on = 1;
        running = 1;
        by_host = 0;
        while (running) begin
            @(rx_word or negedge ata_dmarq);
            if (ata_dmarq !== 1'b1) begin
                running = 0;
            end else if (pause_after >= 0 && rx_count >= pause_after && !pause_done) begin
                pause_done = 1;
                #(2);
                ata_dior_n = 1;   // HDMARDY- negated: a pause
                #(pause_ns);
                ata_dior_n = 0;
                if (ata_dmarq !== 1'b1) running = 0;
            end else if (stop_after >= 0 && rx_count >= stop_after && !stop_done) begin
                stop_done = 1;
                #(2);
                ata_dior_n = 1;   // HDMARDY- negated ...
                #(ud_tRP(m));
                ata_diow_n = 1;   // ... and STOP asserted tRP later: the host ends the burst
                by_host = 1;
                running = 0;
            end
        end
        if (by_host) begin
            wait (ata_dmarq === 1'b0);
        end else begin
            #(10);
            ata_diow_n = 1;       // STOP asserted and HDMARDY- negated within tLI
            #(5);
            ata_dior_n = 1;
        end
        wait (ata_iordy === 1'b1);  // DSTROBE high again
        t_handshake = $realtime;
        rx_on = 0;
        #(ud_tAZ(m) + ud_tZAH(m));  // the card has released DD
        end_burst_with_crc(rx_crc, t_handshake, m);
    endtask

    task automatic udma_out(input integer total, input integer pause_after, input real pause_ns,
                            input integer stop_after);
        integer sent;
        sent = 0;
        pause_done = 0;
        stop_done = 0;
        while (sent < total) udma_out_burst(total, sent, pause_after, pause_ns, stop_after);
    endtask

    task automatic udma_out_burst(input integer total, inout integer sent, input integer pause_after,
                                  input real pause_ns, input integer stop_after);
        integer m;
        real react, t_dd, t_edge, next_edge, t_handshake;
        reg [15:0] crc;
        reg running, by_host;
        m = udma_mode;
        react = ud_react(m);
        wait (ata_dmarq === 1'b1);
        #(30);
        ata_dmack_n = 0;
        #(5);
        dd_drive = xfer[sent];
        t_dd = $realtime;
        #(ud_tACK(m) - 5);
        ata_diow_n = 0;                // STOP negated, before any HSTROBE edge
        wait (ata_iordy === 1'b0);     // DDMARDY- asserted
        next_edge = max2($realtime + 5, t_dd + ud_tDVS(m));
        t_edge = next_edge;
        crc = UDMA_CRC_SEED;
        running = 1;
        by_host = 0;
        while (running) begin
            wait_until(next_edge);
            if (ata_dmarq !== 1'b1) begin
                running = 0;           // the card ends the burst
            end else if (ata_iordy === 1'b1 && $realtime - t_ddmardy_negated >= react) begin
                wait (ata_iordy === 1'b0 || ata_dmarq !== 1'b1);  // paused by the card
                next_edge = $realtime + 5;
            end else begin
                ata_dior_n = !ata_dior_n;
                t_edge = $realtime;
                $fdisplay(log_fd, "data\t%0d\tout\tUDMA\t0x%04h", pos(t_edge), xfer[sent]);
                crc = udma_crc(crc, xfer[sent]);
                sent = sent + 1;
                cmd_words = cmd_words + 1;
                if (sent == total || (stop_after >= 0 && sent >= stop_after && !stop_done)) begin
                    if (sent != total) stop_done = 1;
                    by_host = 1;
                    running = 0;
                end else begin
                    #(ud_tDVH(m));
                    dd_drive = xfer[sent];
                    next_edge = t_edge + ud_cycle(m);
                    if (pause_after >= 0 && sent >= pause_after && !pause_done) begin
                        pause_done = 1;
                        next_edge = next_edge + pause_ns;  // the host pauses: HSTROBE holds
                    end
                end
            end
        end
        if (by_host) begin
            wait_until(t_edge + ud_tSS(m));
            ata_diow_n = 1;            // STOP asserted
            wait (ata_dmarq === 1'b0 && ata_iordy === 1'b1);
        end else begin
            #(10);
            ata_diow_n = 1;            // STOP asserted within tLI
        end
        if (ata_dior_n === 1'b0) begin
            #(10);
            ata_dior_n = 1;            // HSTROBE back high, no data with it
        end
        t_handshake = $realtime;
        end_burst_with_crc(crc, t_handshake, m);
    endtask
endmodule
