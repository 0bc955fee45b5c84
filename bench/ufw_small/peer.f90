! n unformatted sequential records of one INTEGER(4) each, written, then
! read back. The data file lies beside the output file, which receives
! only a checksum of what was read.
program ufw_small
  use iso_fortran_env, only: error_unit
  implicit none
  character(len=256) :: path, arg
  integer(8) :: n, i, s
  integer :: u, k
  integer(8) :: t0, t1, t2, rate
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  call system_clock(t0, rate)
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='replace')
  do i = 1, n
    k = int(mod(i * 7_8, 100003_8), 4)
    write (u) k
  end do
  close (u)
  call system_clock(t1)
  s = 0
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old')
  do i = 1, n
    read (u) k
    s = s + k
  end do
  close (u)
  call system_clock(t2)
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old')
  close (u, status='delete')
  write (error_unit, '(a,f0.6)') 'phase write ', real(t1 - t0, 8) / rate
  write (error_unit, '(a,f0.6)') 'phase read ', real(t2 - t1, 8) / rate
  open (newunit=u, file=trim(path), status='replace')
  write (u, *) n, s
  close (u)
end program
