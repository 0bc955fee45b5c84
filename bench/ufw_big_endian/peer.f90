! Big-endian (convert='big_endian') unformatted sequential WRITE of one
! REAL(8) array of n elements (1 GiB at n = 134217728) as one
! record, then READ of it back. The data file lies beside the output file,
! which receives only a checksum of what was read.
program ufw_big_endian
  use iso_fortran_env, only: error_unit
  implicit none
  character(len=256) :: path, arg
  integer(8) :: n, i, s
  integer :: u
  real(8), allocatable :: a(:)
  integer(8) :: t0, t1, t2, t3, rate
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  allocate (a(n))
  do i = 1, n
    a(i) = real(mod(i, 1000_8), 8) + 0.5d0
  end do
  call system_clock(t0, rate)
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='replace', &
        convert='big_endian')
  write (u) a
  close (u)
  call system_clock(t1)
  a = 0
  call system_clock(t2)
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old', convert='big_endian')
  read (u) a
  close (u)
  call system_clock(t3)
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old', convert='big_endian')
  close (u, status='delete')
  write (error_unit, '(a,f0.6)') 'phase write ', real(t1 - t0, 8) / rate
  write (error_unit, '(a,f0.6)') 'phase read ', real(t3 - t2, 8) / rate
  s = 0
  do i = 1, n
    s = s + int(a(i) * 2, 8)
  end do
  open (newunit=u, file=trim(path), status='replace')
  write (u, *) n, s
  close (u)
end program
