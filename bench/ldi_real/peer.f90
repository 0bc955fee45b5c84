! List-directed READ of REAL(8) values, ten a record, from the prepared
! file; the count, sum and last value read go to the output file.
program ldi_real
  implicit none
  character(len=256) :: path, arg, input
  integer :: n, i, u, v
  real(8) :: x(10), s
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  call get_command_argument(3, input)
  read (arg, *) n
  open (newunit=u, file=trim(input), status='old')
  s = 0
  do i = 1, n / 10
    read (u, *) x
    s = s + sum(x)
  end do
  close (u)
  open (newunit=v, file=trim(path), status='replace')
  write (v, '(I0, 1X, ES25.17, 1X, ES25.17)') n / 10 * 10, s, x(10)
  close (v)
end program
