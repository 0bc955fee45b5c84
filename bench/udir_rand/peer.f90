! n unformatted direct-access records of 64 bytes (eight INTEGER(8)),
! written in sequence, then read in the order of a fixed permutation: a
! full-period linear congruential sequence modulo the power of two at or
! above n, the values past n skipped. The output file receives a checksum.
program udir_rand
  use iso_fortran_env, only: error_unit
  implicit none
  character(len=256) :: path, arg
  integer(8) :: n, i, r, m, x, s, k(8), j
  integer :: u
  integer(8) :: t0, t1, t2, rate
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  m = 1
  do while (m < n)
    m = m * 2
  end do
  call system_clock(t0, rate)
  open (newunit=u, file=trim(path)//'.dat', access='direct', form='unformatted', recl=64, &
        status='replace')
  do i = 1, n
    do j = 1, 8
      k(j) = i * 8 + j
    end do
    write (u, rec=i) k
  end do
  close (u)
  call system_clock(t1)
  s = 0
  open (newunit=u, file=trim(path)//'.dat', access='direct', form='unformatted', recl=64, &
        status='old')
  x = 0
  do i = 1, m
    x = iand(x * 1103515245_8 + 12345_8, m - 1)
    if (x >= n) cycle
    r = x + 1
    read (u, rec=r) k
    s = s + k(1) - k(8)
    s = s + r
  end do
  close (u, status='delete')
  call system_clock(t2)
  write (error_unit, '(a,f0.6)') 'phase write ', real(t1 - t0, 8) / rate
  write (error_unit, '(a,f0.6)') 'phase read ', real(t2 - t1, 8) / rate
  open (newunit=u, file=trim(path), status='replace')
  write (u, *) n, s
  close (u)
end program
